import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The first-run walk-through; `onboarding` holds the flow and the texts that depend on the
// desktop.
Rectangle {
    id: root
    property QtObject onboarding
    readonly property QtObject flow: onboarding ? onboarding.flow : null
    readonly property int step: flow ? flow.step : 0

    width: 460
    height: 420
    color: "#fbfbfd"
    Accessible.role: Accessible.Pane
    Accessible.name: "Welcome to Tessarine"

    component Promise: RowLayout {
        property string glyph
        property string text
        spacing: 10
        Text { text: parent.glyph; font.pixelSize: 16; color: "#3d6fd9" }
        Text { text: parent.text; font.pixelSize: 13; color: "#1d1d1f" }
    }

    ColumnLayout {
        anchors { fill: parent; margins: 28 }
        spacing: 12

        // Welcome.
        ColumnLayout {
            visible: root.step === 0
            spacing: 10
            Text { text: "◌"; font.pixelSize: 44; color: "#3d6fd9"; Layout.alignment: Qt.AlignHCenter }
            Text { text: "Tessarine"; font.pixelSize: 24; font.bold: true; Layout.alignment: Qt.AlignHCenter }
            Text { text: "Your computer's working memory"; font.pixelSize: 14; color: "#55555c"; Layout.alignment: Qt.AlignHCenter }
            Text {
                Layout.fillWidth: true
                Layout.preferredWidth: 400
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 13
                text: "Tessarine quietly notices what you've started — an AI chat, a download, a build — and nudges you back when it's ready."
            }
            Promise { glyph: "✓"; text: "Encrypted, on your computer" }
            Promise { glyph: "✓"; text: "No account, no cloud" }
            Promise { glyph: "✓"; text: "Only you can unlock it" }
        }

        // The accessibility switch.
        ColumnLayout {
            visible: root.step === 1
            spacing: 10
            Text { text: "One permission to work"; font.pixelSize: 22; font.bold: true }
            Text {
                Layout.fillWidth: true
                Layout.preferredWidth: 400
                wrapMode: Text.Wrap
                font.pixelSize: 13
                text: "Tessarine sees which window you are in from the window system. To tell when a chat app has finished, and to read a browser's address bar, it reads their buttons through the desktop's accessibility switch — the one screen readers use. That's the whole ask."
            }
            Text {
                Layout.fillWidth: true
                Layout.preferredWidth: 400
                wrapMode: Text.Wrap
                font.pixelSize: 12
                color: "#55555c"
                text: "Tessarine asks before turning it on, and you can turn it off anytime. Apps that were already running (Chromium, Electron apps) need a restart before Tessarine can read them."
            }
            Promise { glyph: "✓"; text: "Nothing leaves this computer" }
            Promise { glyph: "✓"; text: "No screen recording, ever" }
            Promise { glyph: "✓"; text: "No keystrokes" }
        }

        // Done.
        ColumnLayout {
            visible: root.step === 2
            spacing: 10
            Text { text: "✓"; font.pixelSize: 44; color: "#1a7f37"; Layout.alignment: Qt.AlignHCenter }
            Text { text: "You're all set"; font.pixelSize: 22; font.bold: true; Layout.alignment: Qt.AlignHCenter }
            Text {
                Layout.fillWidth: true
                Layout.preferredWidth: 400
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 13
                text: root.onboarding ? root.onboarding.doneText : ""
            }
        }

        Item { Layout.fillHeight: true }

        RowLayout {
            Layout.fillWidth: true
            Button {
                visible: root.step < 2
                text: root.step === 0 ? "Skip setup" : "Maybe later"
                flat: true
                Accessible.name: text
                Accessible.onPressAction: clicked()
                onClicked: root.flow.skip()
            }
            Item { Layout.fillWidth: true }
            Button {
                text: root.step === 0 ? "Continue"
                    : root.step === 1 ? (root.flow && root.flow.accessibilityGranted ? "Accessibility is on" : "Grant Accessibility")
                    : "Open Tessarine"
                highlighted: true
                Accessible.name: text
                Accessible.onPressAction: clicked()
                onClicked: root.flow.primaryAction()
            }
        }
    }
}
