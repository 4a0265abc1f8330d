#pragma once

#include "platform/linux/ToplevelWorkspace.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>

// The desktop as GNOME Shell reports it on Wayland, through Tessarine's own Shell extension
// (gnome-shell-extension/): it publishes the windows, their titles, application ids and
// processes, and focus changes as signals on the session bus, lists them on request and
// activates one. Only GNOME Shell's own connection is listened to. Without the extension
// nothing can be followed: hasExtension() is false and the user is offered to install it.
class GnomeShellWorkspace final : public ToplevelWorkspace {
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.gnome.Shell");
    static inline const QString objectPath = QStringLiteral("/app/kestrune/Tessarine/Shell");
    static inline const QString interface = QStringLiteral("app.kestrune.Tessarine.ShellWindows");

    GnomeShellWorkspace(qint64 ownPid, AppIdentityResolver resolver = AppIdentityResolver(),
                        QObject* parent = nullptr);

    // Whether GNOME Shell runs our extension (it answered the window list).
    bool hasExtension() const { return m_hasExtension; }

    bool canReadWindows() const override { return m_hasExtension; }
    bool raiseWindow(quint64 windowID) override;

protected:
    bool isMinimized(quint64 id) const override;

private Q_SLOTS:
    void windowAdded(const QString& description);
    void windowRemoved(const QString& id);
    void titleChanged(const QString& id, const QString& title);
    void minimizedChanged(const QString& id, bool minimized);
    void activated(const QString& id);

private:
    // Reads the whole list (at start, and when the extension turns up later).
    bool synchronise();
    void add(const QJsonObject& window);

    bool m_hasExtension = false;
    QHash<QString, quint64> m_ids; // the Shell's window id → ours
    QHash<quint64, QString> m_shellIDs;
    QSet<quint64> m_minimized;
    quint64 m_nextID = 1;
};
