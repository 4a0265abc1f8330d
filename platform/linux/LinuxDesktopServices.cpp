#include "platform/linux/LinuxDesktopServices.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

const QStringList& LinuxDesktopServices::chromiumBrowsers() {
    static const QStringList names = {
        QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable"),
        QStringLiteral("chromium"),      QStringLiteral("chromium-browser"),
        QStringLiteral("brave-browser"), QStringLiteral("microsoft-edge"),
        QStringLiteral("vivaldi")};
    return names;
}

void LinuxDesktopServices::revealInFileViewer(const QString& path) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    const QString parent = QFileInfo(path).path();
    // Without a file manager on the bus, open the folder that holds it instead.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, parent] {
        if (watcher->isError())
            QProcess::startDetached(QStringLiteral("xdg-open"), {parent});
        watcher->deleteLater();
    });
}

std::optional<QString> LinuxDesktopServices::installedChromiumBrowser() {
    for (const QString& name : chromiumBrowsers()) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return std::nullopt;
}

bool LinuxDesktopServices::openExtensionsPage() const {
    const std::optional<QString> browser = installedChromiumBrowser();
    if (!browser)
        return false;
    return QProcess::startDetached(*browser, {QStringLiteral("chrome://extensions")});
}
