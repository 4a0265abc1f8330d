#pragma once

#include "platform/AccessibilitySwitch.h"

#include <QDBusConnection>
#include <QObject>

// The AT-SPI switch on the session bus: `IsEnabled` or `ScreenReaderEnabled` (which toolkits
// also honour) of org.a11y.Status on /org/a11y/bus of org.a11y.Bus, followed through
// PropertiesChanged.
class A11yBusSwitch final : public QObject, public AccessibilitySwitch {
    Q_OBJECT
public:
    explicit A11yBusSwitch(QDBusConnection bus = QDBusConnection::sessionBus());

    std::optional<bool> isEnabled() const override;
    bool enable() override;
    void onChange(std::function<void()> changed) override { m_changed = std::move(changed); }

private Q_SLOTS:
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated);

private:
    std::optional<bool> property(const QString& name) const;

    QDBusConnection m_bus;
    std::function<void()> m_changed;
};
