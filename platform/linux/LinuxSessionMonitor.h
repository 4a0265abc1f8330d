#pragma once

#include "platform/SessionMonitor.h"

#include <QDBusConnection>

// Away and return on a Linux desktop: logind's session Lock/Unlock and PrepareForSleep on
// the system bus, and the screen saver's ActiveChanged (freedesktop and GNOME names) on the
// session bus. A bus that is not there is simply not followed.
class LinuxSessionMonitor final : public SessionMonitor {
    Q_OBJECT
public:
    explicit LinuxSessionMonitor(QObject* parent = nullptr);
    ~LinuxSessionMonitor() override;

    // How many of the four sources are followed (for diagnostics and tests).
    int connectedSources() const { return m_connected; }

private Q_SLOTS:
    void onLock();
    void onUnlock();
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);

private:
    int m_connected = 0;
};
