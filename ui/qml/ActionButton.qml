import QtQuick
import QtQuick.Controls

// A small flat button whose help text is also its accessible name, pressable through AT-SPI.
Button {
    id: button
    property string help: text
    flat: true
    padding: 4
    leftPadding: 7
    rightPadding: 7
    font.pixelSize: 11
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    focusPolicy: Qt.NoFocus
    Accessible.name: help
    Accessible.description: help
    Accessible.onPressAction: button.clicked()
    ToolTip.text: help
    ToolTip.visible: hovered && help !== text
    ToolTip.delay: 600
}
