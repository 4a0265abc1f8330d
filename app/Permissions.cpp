#include "app/Permissions.h"

#include "model/Log.h"
#include "platform/AccessibilitySwitch.h"
#include "platform/UserDefaults.h"

Permissions::Permissions(AccessibilitySwitch* accessibilitySwitch, UserDefaults& settings,
                         QObject* parent)
    : QObject(parent)
    , m_switch(accessibilitySwitch)
    , m_settings(settings) {
    m_granted = m_switch && m_switch->isEnabled().value_or(false);
    if (m_switch)
        m_switch->onChange([this] { refresh(); });
}

void Permissions::setAccessibilityGranted(bool granted) {
    if (granted == m_granted)
        return;
    m_granted = granted;
    Q_EMIT accessibilityGrantedChanged(granted);
}

void Permissions::refresh() {
    setAccessibilityGranted(m_switch && m_switch->isEnabled().value_or(false));
}

void Permissions::requestAccessibility() {
    refresh();
    if (m_granted)
        return;
    const bool firstTime = !m_settings.boolValue(kPromptedKey).value_or(false);
    if (firstTime)
        m_settings.setBool(kPromptedKey, true);
    Q_EMIT consentRequested(firstTime);
}

bool Permissions::grant() {
    const bool switched = m_switch && m_switch->enable();
    if (!switched)
        qCWarning(lcApp) << "The desktop did not turn the accessibility switch on";
    refresh();
    return switched && m_granted;
}
