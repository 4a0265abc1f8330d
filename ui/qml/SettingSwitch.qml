import QtQuick
import QtQuick.Controls

// A switch pressable and toggleable through AT-SPI; `apply` receives the new state.
Switch {
    id: control
    signal apply(bool on)
    Accessible.name: text
    onToggled: apply(checked)
    Accessible.onToggleAction: { toggle(); toggled() }
    Accessible.onPressAction: { toggle(); toggled() }
}
