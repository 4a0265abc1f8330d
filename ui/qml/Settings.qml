import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The settings window's views. Every decision and write is the view model's (`settings`);
// `settingsWindow` opens the desktop's dialogs.
Rectangle {
    id: root
    property QtObject settings
    property QtObject settingsWindow
    property alias currentTab: tabs.currentIndex
    color: "#fbfbfd"
    Accessible.role: Accessible.Pane
    Accessible.name: "Tessarine Settings"

    component Heading: Text {
        font.pixelSize: 14
        font.bold: true
        color: "#1d1d1f"
        topPadding: 8
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }
    component Help: Text {
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        font.pixelSize: 12
        color: "#55555c"
    }
    component Action: Button {
        Accessible.name: text
        Accessible.onPressAction: clicked()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        TabBar {
            id: tabs
            Layout.fillWidth: true
            Repeater {
                model: ["General", "Privacy", "Browser", "Accessibility"]
                TabButton {
                    required property string modelData
                    text: modelData
                    Accessible.name: text
                    Accessible.onPressAction: tabs.currentIndex = TabBar.index
                }
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 16
            currentIndex: tabs.currentIndex

            // General
            ScrollView {
                contentWidth: availableWidth
                ColumnLayout {
                    width: parent.width
                    spacing: 6
                    NoticeBanner {
                        Layout.fillWidth: true
                        notice: root.settings.tracking
                    }
                    Heading { text: "Where loops appear" }
                    ColumnLayout { // one group of choices per parent
                        Choice {
                            text: "Notch island"
                            checked: root.settings.primarySurface === "notch"
                            onChosen: root.settings.primarySurface = "notch"
                        }
                        Choice {
                            text: "Dropdown only"
                            checked: root.settings.primarySurface === "menubar"
                            onChosen: root.settings.primarySurface = "menubar"
                        }
                    }
                    Help { text: root.settings.surfaceText }

                    Heading { text: "Nudges" }
                    Help { text: "The Tessarine dropdown itself is the notification — it drops down on the screen you're using. No mode ever plays a sound." }
                    ColumnLayout {
                    Choice {
                        text: "Whisper"
                        checked: root.settings.sensoryProfile === "whisper"
                        onChosen: root.settings.sensoryProfile = "whisper"
                    }
                    Help { text: "Silent. Loops collect in the dropdown; nothing pops up. (Default.)"; leftPadding: 30 }
                    Choice {
                        text: "Nudge"
                        checked: root.settings.sensoryProfile === "nudge"
                        onChosen: root.settings.sensoryProfile = "nudge"
                    }
                    Help { text: "When a loop is ready, the dropdown drops down on your active screen."; leftPadding: 30 }
                    Choice {
                        text: "Coach"
                        checked: root.settings.sensoryProfile === "coach"
                        onChosen: root.settings.sensoryProfile = "coach"
                    }
                    Help { text: "Also surfaces backgrounded and gone-quiet loops, not just ready ones."; leftPadding: 30 }
                    }

                    Heading { text: "Detection" }
                    SettingSwitch {
                        text: "Notice finished downloads"
                        checked: root.settings.downloadsDetection
                        onApply: (on) => root.settings.downloadsDetection = on
                    }
                    SettingSwitch {
                        text: "Start Tessarine when I log in"
                        checked: root.settings.launchAtLogin
                        onApply: (on) => root.settings.launchAtLogin = on
                    }

                    Heading { text: "Shortcut" }
                    NoticeBanner {
                        Layout.fillWidth: true
                        notice: root.settings.shortcutNotice
                    }
                    RowLayout {
                        Text { text: "Open the dropdown with"; font.pixelSize: 12 }
                        Button {
                            id: recorder
                            property bool recording: false
                            text: recording ? "Type the new shortcut…" : root.settings.shortcut
                            Accessible.name: "Record a new shortcut"
                            Accessible.onPressAction: { recording = true; forceActiveFocus() }
                            onClicked: { recording = true; forceActiveFocus() }
                            Keys.onPressed: (event) => {
                                if (!recording)
                                    return
                                event.accepted = true
                                if (event.key === Qt.Key_Escape) {
                                    recording = false
                                    return
                                }
                                const modifierOnly = [Qt.Key_Control, Qt.Key_Alt, Qt.Key_Shift,
                                                      Qt.Key_Meta, Qt.Key_Super_L, Qt.Key_Super_R]
                                if (modifierOnly.indexOf(event.key) >= 0)
                                    return
                                root.settings.recordShortcut(event.key, event.modifiers)
                                recording = false
                            }
                        }
                    }
                }
            }

            // Privacy
            ScrollView {
                contentWidth: availableWidth
                ColumnLayout {
                    width: parent.width
                    spacing: 6
                    Heading { text: "Keep loops for" }
                    Flow {
                        Layout.fillWidth: true
                        Repeater {
                            model: root.settings.retentionChoices
                            Choice {
                                required property int modelData
                                text: modelData === 1 ? "1 day" : modelData + " days"
                                checked: root.settings.retentionDays === modelData
                                onChosen: root.settings.retentionDays = modelData
                            }
                        }
                    }

                    Heading { text: "What Tessarine may remember" }
                    SettingSwitch {
                        text: "Remember exact page addresses"
                        checked: root.settings.urlReceipts
                        onApply: (on) => root.settings.urlReceipts = on
                    }
                    Help { text: "Browser loops keep the page you were on (without search terms or tokens), so going back opens exactly it." }
                    SettingSwitch {
                        text: "Summarize chat topics"
                        checked: root.settings.smartSummaries
                        onApply: (on) => root.settings.smartSummaries = on
                    }
                    Help { text: "AI-chat loops keep the first line of your prompt, and a short topic from a model on this computer when you run one." }
                    Help {
                        visible: text.length > 0
                        text: root.settings.summaryModelText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }

                    Heading { text: "Your data" }
                    RowLayout {
                        Action { text: "Export…"; onClicked: root.settingsWindow.exportViaPanel() }
                        Action { text: "Delete Everything…"; onClicked: root.settingsWindow.confirmDeleteEverything() }
                    }

                    Heading { text: "Never track these applications" }
                    ListView {
                        Layout.fillWidth: true
                        Layout.preferredHeight: Math.min(contentHeight, 150)
                        clip: true
                        model: root.settings.excludedApplications
                        delegate: RowLayout {
                            width: ListView.view.width
                            required property var modelData
                            Text { text: modelData.name; font.pixelSize: 12; Layout.fillWidth: true }
                            Action {
                                text: "Remove"
                                visible: !modelData.isDefault
                                Accessible.name: "Remove " + modelData.name
                                onClicked: root.settings.removeExclusion(modelData.id)
                            }
                        }
                    }
                    Action { text: "Add Application…"; onClicked: picker.open() }

                    Heading { text: "Never track these web addresses" }
                    ListView {
                        Layout.fillWidth: true
                        Layout.preferredHeight: Math.min(contentHeight, 150)
                        clip: true
                        model: root.settings.excludedAddresses
                        delegate: RowLayout {
                            width: ListView.view.width
                            required property var modelData
                            Text { text: modelData.pattern; font.pixelSize: 12; Layout.fillWidth: true }
                            Action {
                                text: "Remove"
                                visible: !modelData.isDefault
                                Accessible.name: "Remove " + modelData.pattern
                                onClicked: root.settings.removeExclusion(modelData.id)
                            }
                        }
                    }
                    RowLayout {
                        TextField {
                            id: address
                            Layout.fillWidth: true
                            placeholderText: "*.bank.example/*"
                            Accessible.name: "Address pattern"
                            onAccepted: { root.settings.addExcludedAddress(text); text = "" }
                        }
                        Action {
                            text: "Add Address"
                            onClicked: { root.settings.addExcludedAddress(address.text); address.text = "" }
                        }
                    }

                    Heading { text: "Recent privacy activity" }
                    Repeater {
                        model: root.settings.auditEntries
                        Text {
                            required property string modelData
                            Layout.fillWidth: true
                            text: modelData
                            elide: Text.ElideRight
                            font.pixelSize: 11
                            color: "#3a3a3f"
                        }
                    }
                }
            }

            // Browser
            ColumnLayout {
                spacing: 8
                Heading { text: "Tessarine Companion" }
                Help { text: "The companion extension tells Tessarine when an AI chat in Chrome, Chromium, Brave, Edge, Vivaldi or Firefox finishes, and lets it bring the exact tab back." }
                Help { text: "Firefox installs it from a file. Mozilla has not signed it yet, so Firefox ESR, Developer Edition and Nightly keep it only with signature checks off (xpinstall.signatures.required in about:config); other Firefox releases load it as a temporary add-on until they restart." }
                Action { text: "Prepare the Companion"; onClicked: root.settings.prepareCompanion() }
                Help { text: root.settings.companionStatus; color: "#1d1d1f" }
                Item { Layout.fillHeight: true }
            }

            // Accessibility
            ColumnLayout {
                spacing: 8
                Heading { text: "Reading other applications" }
                Help {
                    text: root.settings.accessibilityGranted
                          ? "The desktop's accessibility switch is on: Tessarine can tell when chat apps finish."
                          : "The desktop's accessibility switch is off: Tessarine cannot see when chat apps finish."
                }
                SettingSwitch {
                    text: "Accessibility"
                    checked: root.settings.accessibilityGranted
                    enabled: !root.settings.accessibilityGranted
                    onApply: (on) => { if (on) root.settings.requestAccessibility(); checked = Qt.binding(() => root.settings.accessibilityGranted) }
                }
                Heading { text: "Remote approval" }
                SettingSwitch {
                    text: "Answer approval prompts from Tessarine"
                    checked: root.settings.remoteApprove
                    onApply: (on) => root.settings.remoteApprove = on
                }
                Help { text: "Let Tessarine press Allow / Deny and answer prompts for you, right from the notch — using Accessibility to click the app's own buttons. This is the one feature that acts on your other apps (only Electron chat apps like Claude / ChatGPT; terminal tools still just jump you there). Off by default." }
                Item { Layout.fillHeight: true }
            }
        }

        Text {
            Layout.fillWidth: true
            Layout.margins: 10
            visible: root.settings.message.length > 0
            text: root.settings.message
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: "#1d1d1f"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    // The application picker.
    Popup {
        id: picker
        anchors.centerIn: parent
        width: root.width - 80
        height: root.height - 80
        modal: true
        focus: true
        onOpened: search.forceActiveFocus()
        ColumnLayout {
            anchors.fill: parent
            Text { text: "Choose an app Tessarine should never track."; font.pixelSize: 13; font.bold: true }
            TextField {
                id: search
                Layout.fillWidth: true
                placeholderText: "Search"
                Accessible.name: "Search applications"
            }
            ListView {
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                model: picker.opened ? root.settings.applications(search.text) : []
                delegate: ItemDelegate {
                    required property var modelData
                    width: ListView.view.width
                    text: modelData.name
                    icon.name: modelData.icon
                    Accessible.name: modelData.name
                    Accessible.onPressAction: clicked()
                    onClicked: { root.settings.excludeApplication(modelData.identity); picker.close() }
                }
            }
            Action { text: "Cancel"; onClicked: picker.close() }
        }
    }
}
