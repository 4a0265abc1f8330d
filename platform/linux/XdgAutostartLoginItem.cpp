#include "platform/linux/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
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
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tessarine\n"
                                         "Comment=Working memory for unfinished work\n"
                                         "Exec=\"%1\"\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted);
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

bool XdgAutostartLoginItem::isRegistered() const {
    return QFile::exists(entryPath());
}
