import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The island: collapsed, the lead task and its counts in a pill; expanded (on hover), the
// board of loops. Widths come from the view model; the view never measures text.
Rectangle {
    id: root
    property QtObject island
    property QtObject view
    property bool shadow: false
    readonly property bool expanded: island ? island.expanded : false

    color: "#1c1c1e"
    radius: 14
    border.color: shadow ? "#3a3a3c" : "transparent"
    Accessible.role: Accessible.Pane
    Accessible.name: "Tessarine island"

    HoverHandler {
        onHoveredChanged: {
            if (hovered)
                root.island.expand()
            root.island.hoverChanged(hovered)
        }
    }

    // Beats with the island's one-second clock: one frame a second while something works,
    // none otherwise (a running animation would draw sixty).
    component PulseDot: Rectangle {
        width: 8
        height: 8
        radius: 4
        color: "#ff9f0a"
        opacity: root.island && Math.floor(root.island.now / 1000) % 2 === 0 ? 1 : 0.4
    }

    // Collapsed: lead task | counts.
    Row {
        visible: !root.expanded
        anchors.verticalCenter: parent.verticalCenter
        x: 13
        spacing: 0
        Item {
            width: root.view.leadWidth
            height: 28
            PulseDot {
                visible: root.view.leadWorking
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                objectName: "leadTask"
                // From after the dot to the end of the lead's room: with the model's
                // per-character allowance this always holds the widest glyph or the ellipsis.
                x: 15
                width: Math.max(parent.width - 15, 0)
                anchors.verticalCenter: parent.verticalCenter
                text: root.view.leadTask
                elide: Text.ElideRight
                maximumLineCount: 1
                font.pixelSize: 12
                color: "#f2f2f7"
            }
        }
        Item {
            width: root.view.trailingWidth
            height: 28
            Text {
                objectName: "trailing"
                width: Math.max(parent.width - 8, 0)
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignRight
                text: root.view.trailingText
                elide: Text.ElideRight
                maximumLineCount: 1
                font.pixelSize: 11
                color: root.view.readyCount > 0 ? "#30d158" : "#aeaeb2"
            }
        }
    }

    // Expanded: the board.
    ColumnLayout {
        visible: root.expanded
        anchors { fill: parent; margins: 12 }
        spacing: 4
        RowLayout {
            Layout.fillWidth: true
            Text {
                text: root.view.workingCount + " working · " + root.view.readyCount + " ready"
                color: "#f2f2f7"
                font.pixelSize: 13
                font.bold: true
            }
            Item { Layout.fillWidth: true }
            Button {
                text: "Clear all"
                flat: true
                font.pixelSize: 11
                palette.buttonText: "#aeaeb2"
                Accessible.name: text
                Accessible.onPressAction: clicked()
                onClicked: root.view.clearAll()
            }
        }
        ListView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: root.view.rows
            spacing: 1
            delegate: Rectangle {
                id: row
                required property string loopID
                required property string status
                required property string title
                required property string subtitle
                required property string time
                required property bool hasApproval
                width: ListView.view.width
                height: 46
                radius: 8
                color: rowHover.hovered ? "#2c2c2e" : "transparent"
                Accessible.role: Accessible.ListItem
                Accessible.name: title
                HoverHandler { id: rowHover }
                TapHandler { onTapped: root.view.open(row.loopID) }
                RowLayout {
                    anchors { fill: parent; leftMargin: 8; rightMargin: 4 }
                    spacing: 8
                    PulseDot { visible: row.status === "working" }
                    Rectangle {
                        visible: row.status === "ready"
                        width: 8; height: 8; radius: 4; color: "#30d158"
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 0
                        Text {
                            Layout.fillWidth: true
                            text: row.title
                            elide: Text.ElideRight
                            color: "#f2f2f7"
                            font.pixelSize: 12
                        }
                        Text {
                            Layout.fillWidth: true
                            text: row.subtitle + (row.status === "backgrounded" ? "" : " · " + row.status) + " · " + row.time
                            elide: Text.ElideRight
                            color: "#8e8e93"
                            font.pixelSize: 10
                        }
                    }
                    Button {
                        visible: row.hasApproval
                        text: "Approve"
                        font.pixelSize: 10
                        Accessible.name: text
                        Accessible.onPressAction: clicked()
                        onClicked: root.view.approve(row.loopID)
                    }
                    Button {
                        visible: row.hasApproval
                        text: "Deny"
                        font.pixelSize: 10
                        Accessible.name: text
                        Accessible.onPressAction: clicked()
                        onClicked: root.view.deny(row.loopID)
                    }
                    Button {
                        text: "✕"
                        flat: true
                        font.pixelSize: 10
                        palette.buttonText: "#8e8e93"
                        Accessible.name: "Dismiss"
                        Accessible.onPressAction: clicked()
                        onClicked: root.view.dismiss(row.loopID)
                    }
                }
            }
        }
        Text {
            visible: root.view.overflowCount > 0
            text: root.view.overflowCount + " more in the dropdown"
            color: "#8e8e93"
            font.pixelSize: 11
        }
    }
}
