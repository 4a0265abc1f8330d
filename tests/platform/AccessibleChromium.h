#pragma once

// A real Chromium on the test display with its pages' controls on the accessibility bus,
// started as users are told to: with the renderer's accessibility forced on, and without
// backgrounding covered windows (a covered window otherwise stops updating its page and its
// tree). The accessibility switch must be on before it starts.
#include "Wait.h"

#include <QProcess>
#include <csignal>

class AccessibleChromium {
public:
    AccessibleChromium(const QString& profile, const QString& url) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        // Its own process group, so its helpers go with it.
        process.start(QStringLiteral("setsid"),
                      {QStringLiteral("chromium"), QStringLiteral("--no-sandbox"),
                       QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                       QStringLiteral("--disable-background-networking"),
                       QStringLiteral("--disable-component-update"),
                       QStringLiteral("--disable-sync"),
                       QStringLiteral("--force-renderer-accessibility"),
                       QStringLiteral("--disable-backgrounding-occluded-windows"),
                       QStringLiteral("--user-data-dir=") + profile, url});
        process.waitForStarted();
    }
    ~AccessibleChromium() {
        if (process.processId() > 0)
            ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }
    AccessibleChromium(const AccessibleChromium&) = delete;
    AccessibleChromium& operator=(const AccessibleChromium&) = delete;

    // The browser process (setsid runs it in its own place).
    qint64 pid() const { return process.processId(); }
    // Its last visible window, once it has one; empty otherwise.
    QString window(int milliseconds = 20000) {
        QString found;
        waitFor(
            [&] {
                QProcess search;
                search.start(QStringLiteral("xdotool"),
                             {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                              QStringLiteral("--class"), QStringLiteral("chromium")});
                search.waitForFinished(5000);
                found =
                    QString::fromUtf8(search.readAllStandardOutput()).trimmed().section(u'\n', -1);
                return !found.isEmpty();
            },
            milliseconds);
        return found;
    }

    QProcess process;
};
