import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The dropdown of loops. It only draws and forwards input: every decision is the view
// model's (`menu`); `dropdown` is the window that holds it.
FocusScope {
    id: root
    property QtObject menu
    property QtObject dropdown

    width: 420
    height: Math.min(frame.implicitHeight, 640)
    focus: true

    Accessible.role: Accessible.Pane
    Accessible.name: "Tessarine"

    Shortcut {
        sequence: "Ctrl+,"
        onActivated: root.menu.openSettings()
    }

    // The keyboard comes back to the list when a note is committed or cancelled.
    Connections {
        target: root.menu
        function onNoteEditingChanged() {
            if (root.menu.noteEditingID.length === 0)
                root.forceActiveFocus()
        }
    }

    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Escape) {
            if (root.dropdown)
                root.dropdown.close()
            event.accepted = true
            return
        }
        event.accepted = root.menu.keyPressed(event.key, event.text)
        if (event.accepted && root.menu.selectedID.length > 0)
            list.positionViewAtIndex(list.indexOfSelected(), ListView.Contain)
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        implicitHeight: layout.implicitHeight + 20
        color: "#fbfbfd"
        border.color: "#c9c9cf"
        radius: 10

        ColumnLayout {
            id: layout
            anchors { fill: parent; margins: 10 }
            spacing: 8

            // Header: the product, then what is ready and open.
            RowLayout {
                Layout.fillWidth: true
                Text {
                    text: "Tessarine"
                    font.pixelSize: 15
                    font.bold: true
                    color: "#1d1d1f"
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                }
                Item { Layout.fillWidth: true }
                Text {
                    text: root.menu.readyCount + " ready"
                    font.pixelSize: 12
                    color: root.menu.readyCount > 0 ? "#1a7f37" : "#6e6e73"
                }
                Text {
                    text: root.menu.openCount + " open"
                    font.pixelSize: 12
                    color: "#6e6e73"
                }
            }

            Rectangle {
                Layout.fillWidth: true
                visible: root.menu.isPaused
                implicitHeight: pausedText.implicitHeight + 12
                radius: 6
                color: "#f1f1f3"
                Text {
                    id: pausedText
                    anchors { fill: parent; margins: 6 }
                    text: "Paused: window switches are not followed until you resume."
                    wrapMode: Text.Wrap
                    font.pixelSize: 12
                    color: "#3a3a3f"
                }
            }

            // The permission, while it is missing.
            Rectangle {
                Layout.fillWidth: true
                visible: !root.menu.accessibilityGranted
                implicitHeight: banner.implicitHeight + 12
                radius: 6
                color: "#fff4d6"
                RowLayout {
                    id: banner
                    anchors { fill: parent; margins: 6 }
                    Text {
                        Layout.fillWidth: true
                        text: "Turn on Accessibility so Tessarine can detect when sessions finish."
                        wrapMode: Text.Wrap
                        font.pixelSize: 12
                        color: "#4d3b00"
                    }
                    ActionButton {
                        text: "Grant Access"
                        flat: false
                        onClicked: root.menu.grantAccess()
                    }
                }
            }

            // Window switches that cannot be followed on this desktop.
            NoticeBanner {
                Layout.fillWidth: true
                notice: root.menu.tracking
            }

            // Nothing at all.
            ColumnLayout {
                Layout.fillWidth: true
                Layout.topMargin: 16
                Layout.bottomMargin: 16
                visible: root.menu.isEmpty
                spacing: 4
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    text: "All caught up"
                    font.pixelSize: 15
                    font.bold: true
                    color: "#1d1d1f"
                }
                Text {
                    Layout.fillWidth: true
                    horizontalAlignment: Text.AlignHCenter
                    text: "Nothing's waiting. Tessarine will drop this dropdown down the moment something's ready."
                    wrapMode: Text.Wrap
                    font.pixelSize: 12
                    color: "#6e6e73"
                }
            }

            ListView {
                id: list
                Layout.fillWidth: true
                Layout.preferredHeight: Math.min(contentHeight, 440)
                visible: count > 0
                clip: true
                model: root.menu.rows
                spacing: 2
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar { policy: list.contentHeight > list.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }
                Accessible.role: Accessible.List
                Accessible.name: "Loops"

                function indexOfSelected() {
                    for (let i = 0; i < count; ++i) {
                        const item = itemAtIndex(i)
                        if (item && item.loopID === root.menu.selectedID)
                            return i
                    }
                    return currentIndex
                }

                section.property: "section"
                section.delegate: Text {
                    required property string section
                    text: section
                    topPadding: 6
                    bottomPadding: 2
                    font.pixelSize: 11
                    font.bold: true
                    font.capitalization: Font.AllUppercase
                    color: "#6e6e73"
                    Accessible.role: Accessible.Heading
                    Accessible.name: section
                }
                delegate: LoopRowItem {
                    width: ListView.view.width - 4
                    menu: root.menu
                }
            }

            // The detail of the selected loop.
            Rectangle {
                Layout.fillWidth: true
                visible: root.menu.selectedID.length > 0 && Object.keys(root.menu.selectedCapsule).length > 0
                implicitHeight: card.implicitHeight + 12
                radius: 6
                color: "#f1f1f3"
                Accessible.role: Accessible.Grouping
                Accessible.name: "Selected loop"
                ColumnLayout {
                    id: card
                    anchors { fill: parent; margins: 6 }
                    spacing: 2
                    Text {
                        Layout.fillWidth: true
                        visible: (root.menu.selectedCapsule.promptLine || "").length > 0
                        text: "Asked: " + (root.menu.selectedCapsule.promptLine || "")
                        elide: Text.ElideRight
                        font.pixelSize: 11
                    }
                    Text {
                        Layout.fillWidth: true
                        visible: (root.menu.selectedCapsule.signal || "").length > 0
                        text: "Last seen by " + (root.menu.selectedCapsule.detector || "") + ": " + (root.menu.selectedCapsule.signal || "")
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        color: "#3a3a3f"
                    }
                    Text {
                        Layout.fillWidth: true
                        visible: (root.menu.selectedCapsule.document || "").length > 0
                        text: "About: " + (root.menu.selectedCapsule.document || "")
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        color: "#3a3a3f"
                    }
                    Text {
                        Layout.fillWidth: true
                        visible: (root.menu.selectedCapsule.returnActions || []).length > 0
                        text: "Ways back: " + (root.menu.selectedCapsule.returnActions || []).join(", ")
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        color: "#3a3a3f"
                    }
                }
            }

            // Applications merely open.
            ColumnLayout {
                Layout.fillWidth: true
                visible: root.menu.alsoOpenCount > 0
                spacing: 2
                ActionButton {
                    text: (root.menu.showAlsoOpen ? "▾ " : "▸ ") + "Also open (" + root.menu.alsoOpenCount + ")"
                    help: "Apps you had open with nothing waiting on them"
                    Accessible.name: "Also open"
                    onClicked: root.menu.showAlsoOpen = !root.menu.showAlsoOpen
                }
                Repeater {
                    model: root.menu.showAlsoOpen ? root.menu.alsoOpenRows : null
                    delegate: LoopRowItem {
                        Layout.fillWidth: true
                        menu: root.menu
                        compact: !selected
                    }
                }
                Text {
                    visible: root.menu.showAlsoOpen && root.menu.alsoOpenMore > 0
                    text: root.menu.alsoOpenMore + " more"
                    leftPadding: 8
                    font.pixelSize: 11
                    color: "#6e6e73"
                }
            }

            Text {
                Layout.fillWidth: true
                visible: root.menu.message.length > 0
                text: root.menu.message
                wrapMode: Text.Wrap
                font.pixelSize: 11
                color: "#b3261e"
                Accessible.role: Accessible.AlertMessage
                Accessible.name: text
            }

            // Footer commands.
            RowLayout {
                Layout.fillWidth: true
                spacing: 0
                ActionButton {
                    text: "Clear all"
                    onClicked: root.menu.clearAll()
                }
                ActionButton {
                    text: root.menu.isPaused ? "Resume" : "Pause"
                    onClicked: root.menu.togglePause()
                }
                Item { Layout.fillWidth: true }
                ActionButton {
                    text: "Settings"
                    onClicked: root.menu.openSettings()
                }
                ActionButton {
                    text: "Quit Tessarine"
                    onClicked: root.menu.quit()
                }
            }
        }
    }
}
