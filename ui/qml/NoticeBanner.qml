import QtQuick
import QtQuick.Layouts

// Why window switches cannot be followed on this desktop, with the step that fixes it (or
// what the step answered). Hidden when they are followed.
Rectangle {
    id: root
    property var notice
    visible: notice !== null && notice.shown
    implicitHeight: content.implicitHeight + 12
    radius: 6
    color: "#fff4d6"
    Accessible.role: Accessible.StaticText
    Accessible.name: notice ? notice.text : ""
    RowLayout {
        id: content
        anchors { fill: parent; margins: 6 }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                Layout.fillWidth: true
                text: root.notice ? root.notice.text : ""
                wrapMode: Text.Wrap
                font.pixelSize: 12
                color: "#4d3b00"
            }
            Text {
                Layout.fillWidth: true
                visible: text !== ""
                text: root.notice ? root.notice.result : ""
                wrapMode: Text.Wrap
                font.pixelSize: 12
                font.bold: true
                color: "#4d3b00"
            }
        }
        ActionButton {
            visible: text !== ""
            text: root.notice ? root.notice.actionLabel : ""
            flat: false
            onClicked: root.notice.act()
        }
    }
}
