#pragma once

#include "platform/SessionMonitor.h"

#include <QDBusConnection>
#include <QVariantMap>

class QDBusPendingCallWatcher;

// Away and return on a Linux desktop, for this user's own session only:
// - logind (system bus): Lock/Unlock and the LockedHint of the session this process belongs
//   to (GetSessionByPID; else $XDG_SESSION_ID; else, for a process started as a user
//   service, the user's display session), and Manager.PrepareForSleep;
// - the screen saver (session bus): ActiveChanged from the current owner of
//   org.freedesktop.ScreenSaver or org.gnome.ScreenSaver, never from another sender.
// The user is away while any of lock, sleep or screen saver holds; away and returned are
// emitted on the edges. A bus that is not there is simply not followed.
class LinuxSessionMonitor final : public SessionMonitor {
    Q_OBJECT
public:
    explicit LinuxSessionMonitor(QObject* parent = nullptr);
    ~LinuxSessionMonitor() override;

    // How many sources are followed (for diagnostics and tests); the session's own two
    // signals and its LockedHint join once logind has named the session.
    int connectedSources() const { return m_connected; }
    // The logind session followed, once known.
    QString sessionPath() const { return m_sessionPath; }

Q_SIGNALS:
    void sessionFound(const QString& path);

private Q_SLOTS:
    void onLock();
    void onUnlock();
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);

private:
    enum class Reason { Locked, Sleeping, ScreenSaver };
    void set(Reason reason, bool holds);
    void findSession();
    void askByID();
    void askDisplaySession();
    void follow(const QString& path);
    // Runs `done` with the reply's object path, or `fallback` when there is none.
    void expectPath(QDBusPendingCallWatcher* watcher, std::function<void(const QString&)> done,
                    std::function<void()> fallback);

    QDBusConnection m_system;
    QString m_sessionID; // $XDG_SESSION_ID at start
    int m_connected = 0;
    QString m_sessionPath;
    unsigned m_reasons = 0; // one bit per Reason that holds
};
