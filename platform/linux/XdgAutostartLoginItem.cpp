#include "platform/linux/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <stdexcept>

XdgAutostartLoginItem::XdgAutostartLoginItem(QString executablePath, QString autostartFolder)
    : m_executablePath(std::move(executablePath))
    , m_folder(std::move(autostartFolder)) {}

QString XdgAutostartLoginItem::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString XdgAutostartLoginItem::entryPath() const {
    return m_folder + QStringLiteral("/tessarine.desktop");
}

void XdgAutostartLoginItem::registerMainApplication() {
    if (!QDir().mkpath(m_folder))
        throw std::runtime_error("cannot create the autostart folder");
    // Exec quoting per the desktop-entry rules: the path in double quotes, escaping \ " ` $.
    QString quoted = m_executablePath;
    for (const char* special : {"\\", "\"", "`", "$"}) {
        const QString character = QString::fromLatin1(special);
        quoted.replace(character, QStringLiteral("\\") + character);
    }
    // TryExec is a plain string value: only the backslash is escaped. A missing program
    // (uninstalled) makes the session skip the entry instead of failing to start it.
    QString plain = m_executablePath;
    plain.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tessarine\n"
                                         "Comment=Working memory for unfinished work\n"
                                         "Exec=\"%1\"\n"
                                         "TryExec=%2\n"
                                         "Icon=app.kestrune.Tessarine\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n"
                                         "X-GNOME-Autostart-Delay=3\n")
                              .arg(quoted, plain);
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        throw std::runtime_error("cannot write the autostart entry");
}

void XdgAutostartLoginItem::unregisterMainApplication() {
    QFile entry(entryPath());
    if (entry.exists() && !entry.remove())
        throw std::runtime_error("cannot remove the autostart entry: " +
                                 entry.errorString().toStdString());
}

QString XdgAutostartLoginItem::launcherPath(const QString& executablePath) {
    const QFileInfo executable(executablePath);
    const QDir folder = executable.absoluteDir();
    if (folder.dirName() != u"tessarine" ||
        QFileInfo(folder.absolutePath()).dir().dirName() != QStringLiteral("libexec"))
        return executablePath;
    const QString link = QDir::cleanPath(folder.absolutePath() + QStringLiteral("/../../bin/") +
                                         executable.fileName());
    const QString target = QFileInfo(link).canonicalFilePath();
    return !target.isEmpty() && target == executable.canonicalFilePath() ? link : executablePath;
}

bool XdgAutostartLoginItem::isRegistered() const {
    return QFile::exists(entryPath());
}
