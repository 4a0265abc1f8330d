#pragma once

#include "platform/GlobalHotkey.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>
#include <functional>

// The global shortcut on Wayland, through the desktop portal's GlobalShortcuts interface
// (KDE Plasma 5.27 and later, Hyprland, GNOME 48 and later): one shortcut, "toggle", bound in
// a portal session with the user's choice as the preferred trigger. The desktop may show its
// own dialog and may bind another key; it tells which. There is no global key grab on
// Wayland otherwise.
class PortalGlobalHotkey final : public QObject, public GlobalHotkey {
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface =
        QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
    static inline const QString shortcutID = QStringLiteral("toggle");

    PortalGlobalHotkey();

    // Whether the session's portal offers global shortcuts at all.
    static bool isAvailable();
    // A shortcut in the portal's trigger notation ("ALT+LOGO+l"); nothing for a key it has no
    // name for.
    static std::optional<QString> trigger(quint32 keyCode, quint32 modifiers);

    bool grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) override;
    void release() override;
    // The trigger the desktop bound, once it answered ("Alt+Super+L" as it describes it).
    QString boundTrigger() const { return m_boundTrigger; }

Q_SIGNALS:
    void bound();

private Q_SLOTS:
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void activated(const QDBusMessage& message);

private:
    // Calls a portal method that answers through a Request object: subscribes to its
    // Response first (its path is known in advance), then calls.
    bool request(const QString& method, QVariantList arguments, const char* slot);
    void bindShortcuts();

    std::function<void()> m_pressed;
    std::optional<QString> m_trigger;
    QString m_session;
    QString m_boundTrigger;
    int m_tokens = 0;
};
