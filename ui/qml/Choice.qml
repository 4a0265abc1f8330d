import QtQuick
import QtQuick.Controls

// One of a group of choices, pressable through AT-SPI.
RadioButton {
    id: control
    signal chosen()
    Accessible.name: text
    onClicked: chosen()
    Accessible.onPressAction: { checked = true; chosen() }
    Accessible.onToggleAction: { checked = true; chosen() }
}
