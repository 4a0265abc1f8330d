import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One loop: its icon, what it is about, its application and time, its note, and its actions.
Rectangle {
    id: row
    required property QtObject menu
    required property string loopID
    required property string status
    required property string title
    required property string subtitle
    required property string note
    required property string time
    required property string iconSource
    required property string markSource
    required property bool pinned
    required property bool canWatch
    required property bool hasApproval
    property bool compact: false

    readonly property bool selected: menu.selectedID === loopID
    readonly property bool editingNote: menu.noteEditingID === loopID

    implicitHeight: content.implicitHeight + 12
    color: selected ? "#e3ecfb" : (hover.hovered ? "#f1f1f3" : "transparent")
    radius: 6

    Accessible.role: Accessible.ListItem
    Accessible.name: title
    Accessible.description: subtitle

    HoverHandler { id: hover }
    TapHandler { onTapped: row.menu.select(row.loopID) }

    ColumnLayout {
        id: content
        anchors { left: parent.left; right: parent.right; top: parent.top; margins: 6 }
        spacing: 2

        RowLayout {
            spacing: 8
            Item {
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                Rectangle {
                    anchors.fill: parent
                    radius: 6
                    color: "#dedee3"
                    visible: icon.status !== Image.Ready
                    Text {
                        anchors.centerIn: parent
                        text: row.subtitle.length > 0 ? row.subtitle.charAt(0).toUpperCase() : "?"
                        color: "#55555c"
                        font.pixelSize: 14
                        font.bold: true
                    }
                }
                Image {
                    id: icon
                    anchors.fill: parent
                    source: row.iconSource
                    sourceSize: Qt.size(28, 28)
                    visible: status === Image.Ready
                }
                Image {
                    anchors { right: parent.right; bottom: parent.bottom; margins: -3 }
                    width: 14
                    height: 14
                    source: row.markSource
                    sourceSize: Qt.size(14, 14)
                    visible: row.markSource.length > 0
                }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 0
                Text {
                    Layout.fillWidth: true
                    text: (row.pinned ? "📌 " : "") + row.title
                    elide: Text.ElideRight
                    font.pixelSize: 13
                    font.bold: row.status === "ready"
                    color: "#1d1d1f"
                }
                Text {
                    Layout.fillWidth: true
                    text: row.subtitle
                    elide: Text.ElideRight
                    font.pixelSize: 11
                    color: "#6e6e73"
                }
            }
            Text {
                text: row.time
                font.pixelSize: 11
                color: "#6e6e73"
            }
        }

        Text {
            Layout.fillWidth: true
            Layout.leftMargin: 36
            visible: row.note.length > 0 && !row.editingNote
            text: "“" + row.note + "”"
            elide: Text.ElideRight
            font.pixelSize: 11
            font.italic: true
            color: "#3a3a3f"
        }

        TextField {
            id: noteField
            Layout.fillWidth: true
            Layout.leftMargin: 36
            visible: row.editingNote
            placeholderText: "Why are you leaving this open?"
            Accessible.name: "Note to self"
            text: row.menu.noteDraft
            font.pixelSize: 12
            onTextEdited: row.menu.noteDraft = text
            onAccepted: row.menu.commitNote()
            Keys.onEscapePressed: row.menu.cancelNote()
            onVisibleChanged: if (visible) forceActiveFocus()
            Component.onCompleted: if (visible) forceActiveFocus()
        }

        Flow {
            Layout.fillWidth: true
            Layout.leftMargin: 30
            visible: !row.compact
            spacing: 0
            ActionButton {
                visible: row.hasApproval
                text: "Approve"
                onClicked: row.menu.approve(row.loopID)
            }
            ActionButton {
                visible: row.hasApproval
                text: "Deny"
                onClicked: row.menu.deny(row.loopID)
            }
            ActionButton {
                text: "Open"
                help: "Jump to inspect"
                onClicked: row.menu.open(row.loopID)
            }
            ActionButton {
                visible: row.status === "ready"
                text: "Not ready"
                help: "Not ready — Tessarine got this wrong"
                onClicked: row.menu.markNotReady(row.loopID)
            }
            ActionButton {
                visible: row.canWatch
                text: "Watch"
                help: "Watch this (W)"
                onClicked: row.menu.watch(row.loopID)
            }
            ActionButton {
                text: "Dismiss"
                help: "Dismiss (D)"
                onClicked: row.menu.dismiss(row.loopID)
            }
            ActionButton {
                text: row.pinned ? "Unpin" : "Pin"
                help: row.pinned ? "Unpin (P)" : "Pin (P)"
                onClicked: row.menu.togglePin(row.loopID)
            }
            ActionButton {
                id: snoozeButton
                text: "Snooze"
                help: "Snooze (S = 10 min)"
                onClicked: snoozeMenu.open()
                Menu {
                    id: snoozeMenu
                    y: snoozeButton.height
                    MenuItem {
                        text: "10 minutes"
                        Accessible.onPressAction: triggered()
                        onTriggered: row.menu.snooze(row.loopID, 0)
                    }
                    MenuItem {
                        text: "1 hour"
                        Accessible.onPressAction: triggered()
                        onTriggered: row.menu.snooze(row.loopID, 1)
                    }
                    MenuItem {
                        text: "Until tomorrow"
                        Accessible.onPressAction: triggered()
                        onTriggered: row.menu.snooze(row.loopID, 2)
                    }
                }
            }
            ActionButton {
                text: "Note"
                help: "Note to self (N)"
                onClicked: row.menu.startNote(row.loopID)
            }
        }
    }
}
