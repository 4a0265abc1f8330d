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

std::optional<QString> LinuxDesktopServices::installedFirefox() {
    if (!QStandardPaths::findExecutable(QStringLiteral("firefox-esr")).isEmpty())
        return QStringLiteral("Firefox ESR");
    if (!QStandardPaths::findExecutable(QStringLiteral("firefox")).isEmpty())
        return QStringLiteral("Firefox");
    return std::nullopt;
}

QString LinuxDesktopServices::browserName(const QString& executable) {
    const QString name = QFileInfo(executable).fileName();
    if (name.startsWith(u"google-chrome"))
        return QStringLiteral("Google Chrome");
    if (name.startsWith(u"chromium"))
        return QStringLiteral("Chromium");
    if (name == u"brave-browser")
        return QStringLiteral("Brave");
    if (name == u"microsoft-edge")
        return QStringLiteral("Microsoft Edge");
    if (name == u"vivaldi")
        return QStringLiteral("Vivaldi");
    return name;
}

std::optional<QString> LinuxDesktopServices::openExtensionsPage() const {
    const std::optional<QString> browser = installedChromiumBrowser();
    if (!browser || !QProcess::startDetached(*browser, {QStringLiteral("chrome://extensions")}))
        return std::nullopt;
    return browserName(*browser);
}
