#include "platform/linux/GnomeShellExtension.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <filesystem>

GnomeShellExtension::GnomeShellExtension(std::optional<QString> shipped, QString dataHome,
                                         Gsettings gsettings)
    : m_shipped(std::move(shipped))
    , m_dataHome(std::move(dataHome))
    , m_gsettings(std::move(gsettings)) {}

std::optional<int> GnomeShellExtension::runningShellVersion() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.gnome.Shell") << QStringLiteral("ShellVersion");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QString version =
        reply.arguments().constFirst().value<QDBusVariant>().variant().toString(); // "43.9"
    bool numeric = false;
    const int major = version.section(u'.', 0, 0).toInt(&numeric);
    return numeric ? std::optional(major) : std::nullopt;
}

std::optional<QString> GnomeShellExtension::variantFor(int shellMajorVersion) {
    if (shellMajorVersion < 40)
        return std::nullopt;
    return shellMajorVersion <= 44 ? QStringLiteral("legacy") : QStringLiteral("module");
}

std::optional<QString> GnomeShellExtension::withItem(const QString& printed, const QString& uuid) {
    // gsettings prints a GVariant string array: "['a@b', 'c@d']" or "@as []".
    QString list = printed.trimmed();
    if (list.startsWith(QStringLiteral("@as ")))
        list = list.mid(4).trimmed();
    if (!list.startsWith(u'[') || !list.endsWith(u']'))
        return std::nullopt;
    QStringList uuids;
    static const QRegularExpression item(QStringLiteral(R"('((?:[^'\\]|\\.)*)')"));
    for (auto match = item.globalMatch(list); match.hasNext();)
        uuids.append(match.next().captured(1));
    if (!uuids.contains(uuid))
        uuids.append(uuid);
    QStringList quoted;
    for (const QString& each : uuids)
        quoted.append(u'\'' + each + u'\'');
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}

QString GnomeShellExtension::installedFolder() const {
    return QDir(m_dataHome).filePath(QStringLiteral("gnome-shell/extensions/") + uuid);
}

QString GnomeShellExtension::install(int shellMajorVersion) {
    const std::optional<QString> variant = variantFor(shellMajorVersion);
    if (!variant)
        return QStringLiteral("GNOME %1 is too old for Tessarine's extension (GNOME 40 or later "
                              "is needed).")
            .arg(shellMajorVersion);
    const QString source =
        m_shipped ? QDir(*m_shipped).filePath(*variant + u'/' + uuid) : QString();
    if (source.isEmpty() || !QFileInfo::exists(source + QStringLiteral("/extension.js")))
        return QStringLiteral("The bundled GNOME extension is missing. Reinstall Tessarine and "
                              "try again.");
    const QString target = installedFolder();
    std::error_code error;
    std::filesystem::create_directories(target.toStdString(), error);
    for (const char* name : {"extension.js", "metadata.json"}) {
        const QString to = QDir(target).filePath(QLatin1String(name));
        QFile::remove(to);
        if (error || !QFile::copy(QDir(source).filePath(QLatin1String(name)), to))
            return QStringLiteral("Couldn't copy the GNOME extension to %1. Check that the "
                                  "folder is writable and try again.")
                .arg(target);
    }
    const std::optional<QString> enabled =
        m_gsettings({QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                     QStringLiteral("enabled-extensions")});
    const std::optional<QString> updated = enabled ? withItem(*enabled, uuid) : std::nullopt;
    if (!updated || !m_gsettings({QStringLiteral("set"), QStringLiteral("org.gnome.shell"),
                                  QStringLiteral("enabled-extensions"), *updated}))
        return QStringLiteral("The extension is in %1, but it could not be turned on: open "
                              "Extensions and turn on \u201CTessarine window reporter\u201D "
                              "after you log in again.")
            .arg(target);
    qCInfo(lcApp).noquote() << "Installed the GNOME Shell extension in" << target;
    return QStringLiteral("Installed. Log out and back in: GNOME starts new extensions at login. "
                          "Until then Tessarine cannot see window switches.");
}

std::optional<QString> GnomeShellExtension::runGsettings(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}
