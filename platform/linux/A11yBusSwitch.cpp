#include "platform/linux/A11yBusSwitch.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace {
const QString kService = QStringLiteral("org.a11y.Bus");
const QString kPath = QStringLiteral("/org/a11y/bus");
const QString kStatus = QStringLiteral("org.a11y.Status");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIsEnabled = QStringLiteral("IsEnabled");
const QString kScreenReader = QStringLiteral("ScreenReaderEnabled");
constexpr int kTimeoutMs = 2000;
} // namespace

A11yBusSwitch::A11yBusSwitch(QDBusConnection bus)
    : m_bus(std::move(bus)) {
    if (m_bus.isConnected())
        m_bus.connect(kService, kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

std::optional<bool> A11yBusSwitch::property(const QString& name) const {
    if (!m_bus.isConnected())
        return std::nullopt;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
    call << kStatus << name;
    // Asking activates the bus's service when it is installed but not yet running.
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<bool> A11yBusSwitch::isEnabled() const {
    const std::optional<bool> enabled = property(kIsEnabled);
    if (!enabled)
        return std::nullopt;
    return *enabled || property(kScreenReader).value_or(false);
}

bool A11yBusSwitch::enable() {
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Set"));
    call << kStatus << kIsEnabled << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && isEnabled().value_or(false);
}

void A11yBusSwitch::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                      const QStringList& invalidated) {
    if (interface != kStatus)
        return;
    const bool ours = changed.contains(kIsEnabled) || changed.contains(kScreenReader) ||
                      invalidated.contains(kIsEnabled) || invalidated.contains(kScreenReader);
    if (ours && m_changed)
        m_changed();
}
