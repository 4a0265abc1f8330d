#pragma once

#include <QObject>

class AccessibilitySwitch;
class UserDefaults;

// The one permission Tessarine asks for: the desktop's accessibility switch, which lets it
// read other applications' controls. Observers hear `accessibilityGranted` only when it
// changes. Main thread only.
class Permissions : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
public:
    static inline const QString kPromptedKey = QStringLiteral("permissions.accessibility.prompted");

    // Without a switch (no accessibility bus on this desktop) nothing is ever granted.
    Permissions(AccessibilitySwitch* accessibilitySwitch, UserDefaults& settings,
                QObject* parent = nullptr);

    bool accessibilityGranted() const { return m_granted; }
    void setAccessibilityGranted(bool granted);
    // Re-reads the switch.
    void refresh();
    // Refreshes and, when still off, asks the user in our own dialog (`consentRequested`);
    // the first request also records that the user was asked.
    void requestAccessibility();
    // Desktops rarely have a settings pane for the switch, so this asks as a request does.
    void openAccessibilitySettings() { requestAccessibility(); }
    // The user agreed in the dialog: turns the switch on. False when the desktop refused.
    bool grant();

Q_SIGNALS:
    void accessibilityGrantedChanged(bool granted);
    // The view shows the consent dialog; `firstTime` is true on the very first request.
    void consentRequested(bool firstTime);

private:
    AccessibilitySwitch* m_switch;
    UserDefaults& m_settings;
    bool m_granted = false;
};
