#pragma once

// Headless Wayland compositors with XWayland, for the Wayland workspace tests run inside
// scripts/test-env.sh. Each test skips with the reason when its compositor is not installed.
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>

// Sets environment variables of this process for a scope (the backends connect to what
// WAYLAND_DISPLAY and DISPLAY name).
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, QString>> values) {
        for (const auto& [name, value] : values) {
            m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qputenv(name, value.toUtf8());
        }
    }
    ~ScopedEnvironment() {
        for (const auto& saved : m_saved) {
            if (saved.wasSet)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

// sway on the headless wlroots backend with software rendering. sway refuses to run as root,
// so as root it runs as "nobody" with a runtime folder of its own.
class HeadlessSway {
public:
    HeadlessSway() {
        const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
        if (sway.isEmpty()) {
            skipReason = "sway is not installed (scripts/install-deps.sh installs it)";
            return;
        }
        const QString folder = m_runtime.path();
        QFile config(folder + u"/config"_qs);
        config.open(QIODevice::WriteOnly);
        // XWayland admits only its own user's clients: as root, the compositor runs as
        // nobody and lets root in. Starting xhost also starts XWayland before the test goes on.
        config.write("xwayland enable\n"
                     "exec sh -c 'xhost +si:localuser:root >/dev/null 2>&1; "
                     "echo \"$DISPLAY\" > " +
                     folder.toUtf8() + "/display'\n");
        config.close();
        QStringList command{sway, u"-c"_qs, config.fileName()};
        if (::geteuid() == 0) {
            const QByteArray path = QFile::encodeName(folder);
            if (::chown(path.constData(), 65534, 65534) != 0 ||
                ::chown(QFile::encodeName(config.fileName()).constData(), 65534, 65534) != 0) {
                skipReason = "cannot hand the compositor's folder to nobody";
                return;
            }
            command = QStringList{u"setpriv"_qs, u"--reuid=65534"_qs, u"--regid=65534"_qs,
                                  u"--clear-groups"_qs} +
                      command;
        }
        QProcessEnvironment environment;
        environment.insert(u"PATH"_qs, qEnvironmentVariable("PATH"));
        environment.insert(u"HOME"_qs, folder);
        environment.insert(u"XDG_RUNTIME_DIR"_qs, folder);
        environment.insert(u"WLR_BACKENDS"_qs, u"headless"_qs);
        environment.insert(u"WLR_RENDERER"_qs, u"pixman"_qs);
        environment.insert(u"WLR_LIBINPUT_NO_DEVICES"_qs, u"1"_qs);
        environment.insert(u"WLR_HEADLESS_OUTPUTS"_qs, u"1"_qs);
        environment.insert(u"TESSARINE_ENV_MARKER"_qs,
                           qEnvironmentVariable("TESSARINE_ENV_MARKER"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(command.constFirst(), command.mid(1));
        const bool started = waitFor(
            [&] { return !socket().isEmpty() && !xDisplay().isEmpty() && !ipcSocket().isEmpty(); },
            15000);
        if (!started)
            skipReason = "sway did not start: " + m_process.readAll().right(2000).toStdString();
    }
    ~HeadlessSway() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool isRunning() const { return skipReason.empty(); }

    // The Wayland socket's absolute path (libwayland accepts one in WAYLAND_DISPLAY).
    QString socket() const {
        const QStringList sockets =
            QDir(m_runtime.path()).entryList({u"wayland-*"_qs}, QDir::System);
        for (const QString& name : sockets) {
            if (!name.endsWith(u".lock"_qs))
                return m_runtime.filePath(name);
        }
        return {};
    }
    QString xDisplay() const {
        QFile file(m_runtime.filePath(u"display"_qs));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).trimmed();
    }
    QString ipcSocket() const {
        const QStringList sockets =
            QDir(m_runtime.path()).entryList({u"sway-ipc.*"_qs}, QDir::System);
        return sockets.isEmpty() ? QString() : m_runtime.filePath(sockets.constFirst());
    }
    // Runs a sway command ("[title=\"^One$\"] focus"); true when sway accepted it.
    bool command(const QString& text) const {
        QProcess message;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"SWAYSOCK"_qs, ipcSocket());
        message.setProcessEnvironment(environment);
        message.start(u"swaymsg"_qs, {text});
        message.waitForFinished(5000);
        return message.exitCode() == 0;
    }
    // Gives the focus to the window with this title, as a user's click would.
    bool focus(const QString& title) const {
        return command(u"[title=\"^"_qs + title + u"$\"] focus"_qs);
    }
    // What a client of this session sees.
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WAYLAND_DISPLAY"_qs, socket());
        environment.insert(u"DISPLAY"_qs, xDisplay());
        environment.insert(u"XDG_SESSION_TYPE"_qs, u"wayland"_qs);
        environment.insert(u"XDG_CURRENT_DESKTOP"_qs, u"sway"_qs);
        return environment;
    }

    std::string skipReason;

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
};

// KWin on its virtual backend with XWayland, on the test session's bus (it takes
// org.kde.KWin there). Its binary is copied first: the installed one carries a file
// capability that fails in containers.
class HeadlessKWin {
public:
    HeadlessKWin() {
        const QString kwin = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
        if (kwin.isEmpty()) {
            skipReason = "kwin_wayland is not installed (scripts/install-deps.sh installs it)";
            return;
        }
        const QString copy = m_folder.filePath(u"kwin_wayland"_qs);
        QFile::copy(kwin, copy);
        QFile report(m_folder.filePath(u"report.sh"_qs));
        report.open(QIODevice::WriteOnly);
        report.write("#!/bin/sh\necho \"$DISPLAY\" > " + m_folder.path().toUtf8() +
                     "/display.new && mv " + m_folder.path().toUtf8() + "/display.new " +
                     m_folder.path().toUtf8() + "/display\n");
        report.close();
        report.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_socket = u"wayland-tessarine-kwin"_qs;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(copy, {u"--virtual"_qs, u"--no-lockscreen"_qs, u"--no-global-shortcuts"_qs,
                               u"--xwayland"_qs, u"--socket"_qs, m_socket, report.fileName()});
        if (!waitFor([&] { return !xDisplay().isEmpty(); }, 20000))
            skipReason =
                "kwin_wayland did not start: " + m_process.readAll().right(2000).toStdString();
    }
    ~HeadlessKWin() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool isRunning() const { return skipReason.empty(); }
    QString socket() const { return m_socket; }
    QString xDisplay() const {
        QFile file(m_folder.filePath(u"display"_qs));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).trimmed();
    }
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WAYLAND_DISPLAY"_qs, m_socket);
        environment.insert(u"DISPLAY"_qs, xDisplay());
        environment.insert(u"XDG_SESSION_TYPE"_qs, u"wayland"_qs);
        environment.insert(u"XDG_CURRENT_DESKTOP"_qs, u"KDE"_qs);
        return environment;
    }
    // Gives the focus to the window with this caption, as a user's click would (through a
    // KWin script of the test's own).
    bool focus(const QString& caption) {
        QFile script(m_folder.filePath(u"focus.js"_qs));
        script.open(QIODevice::WriteOnly | QIODevice::Truncate);
        script.write(("const six = typeof workspace.windowList === 'function';"
                      "for (const w of (six ? workspace.windowList() : workspace.clientList()))"
                      "  if (w.caption === '" +
                      caption +
                      "') { if (six) workspace.activeWindow = w; "
                      "else workspace.activeClient = w; }")
                         .toUtf8());
        script.close();
        const auto call = [](const QString& method, const QVariantList& arguments) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                u"org.kde.KWin"_qs, u"/Scripting"_qs, u"org.kde.kwin.Scripting"_qs, method);
            message.setArguments(arguments);
            return QDBusConnection::sessionBus().call(message);
        };
        call(u"unloadScript"_qs, {u"tessarine-test-focus"_qs});
        call(u"loadScript"_qs, {script.fileName(), u"tessarine-test-focus"_qs});
        return call(u"start"_qs, {}).type() == QDBusMessage::ReplyMessage;
    }

    std::string skipReason;

private:
    QTemporaryDir m_folder;
    QString m_socket;
    QProcess m_process;
};

// GNOME Shell headless on Wayland with Tessarine's extension enabled (the build's "legacy"
// or "module" folder, by the Shell's version), on the test session's bus; it needs a system
// bus, for which a private one is started.
class HeadlessGnomeShell {
public:
    explicit HeadlessGnomeShell(const QString& extensionBuild) {
        const QString shell = QStandardPaths::findExecutable(QStringLiteral("gnome-shell"));
        if (shell.isEmpty()) {
            skipReason = "gnome-shell is not installed (scripts/install-deps.sh installs it)";
            return;
        }
        const QString root = m_folder.path();
        QDir().mkpath(root + u"/runtime"_qs);
        QFile::setPermissions(root + u"/runtime"_qs,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString extensions = root + u"/data/gnome-shell/extensions/tessarine@kestrune.app"_qs;
        QDir().mkpath(extensions);
        for (const char* name : {"extension.js", "metadata.json"})
            QFile::copy(extensionBuild + u'/' + QLatin1String(name),
                        extensions + u'/' + QLatin1String(name));
        QDir().mkpath(root + u"/config/glib-2.0/settings"_qs);
        QFile keyfile(root + u"/config/glib-2.0/settings/keyfile"_qs);
        keyfile.open(QIODevice::WriteOnly);
        keyfile.write("[org/gnome/shell]\nenabled-extensions=['tessarine@kestrune.app']\n");
        keyfile.close();

        m_systemBus.start(u"dbus-daemon"_qs, {u"--session"_qs, u"--nofork"_qs,
                                              u"--address=unix:path="_qs + root + u"/system"_qs});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_qs, u"unix:path="_qs + root + u"/system"_qs);
        environment.insert(u"XDG_RUNTIME_DIR"_qs, root + u"/runtime"_qs);
        environment.insert(u"XDG_DATA_HOME"_qs, root + u"/data"_qs);
        environment.insert(u"XDG_CONFIG_HOME"_qs, root + u"/config"_qs);
        environment.insert(u"GSETTINGS_BACKEND"_qs, u"keyfile"_qs);
        environment.remove(u"DISPLAY"_qs);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        waitFor([&] { return QFile::exists(root + u"/system"_qs); });
        m_process.start(
            shell, {u"--headless"_qs, u"--wayland"_qs, u"--virtual-monitor"_qs, u"1280x800"_qs});
        if (!waitFor([&] { return !socket().isEmpty() && !xDisplay().isEmpty(); }, 30000))
            skipReason =
                "gnome-shell did not start: " + m_process.readAll().right(2000).toStdString();
    }
    ~HeadlessGnomeShell() {
        for (QProcess* process : {&m_process, &m_systemBus}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
    }
    bool isRunning() const { return skipReason.empty(); }
    QString socket() const {
        const QString path = m_folder.filePath(u"runtime/wayland-0"_qs);
        return QFile::exists(path) ? path : QString();
    }
    // The display and authority file of the Shell's XWayland (its child process).
    QString xDisplay() const { return xwayland().first; }
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WAYLAND_DISPLAY"_qs, socket());
        environment.insert(u"DISPLAY"_qs, xDisplay());
        environment.insert(u"XAUTHORITY"_qs, xwayland().second);
        environment.insert(u"XDG_SESSION_TYPE"_qs, u"wayland"_qs);
        environment.insert(u"XDG_CURRENT_DESKTOP"_qs, u"GNOME"_qs);
        return environment;
    }
    // Gives the focus to the window with this title through the extension's own activation
    // (GNOME lets no other program do it).
    bool focus(const QString& title) const {
        const auto call = [](const QString& method, const QVariantList& arguments) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                u"org.gnome.Shell"_qs, u"/app/kestrune/Tessarine/Shell"_qs,
                u"app.kestrune.Tessarine.ShellWindows"_qs, method);
            message.setArguments(arguments);
            return QDBusConnection::sessionBus().call(message);
        };
        for (const QJsonValue& window : list()) {
            if (window[u"title"_qs].toString() == title)
                return call(u"Activate"_qs, {window[u"id"_qs].toString()})
                    .arguments()
                    .value(0)
                    .toBool();
        }
        return false;
    }

    // The application (its class) of a window the Shell names by its id; the Shell's list is
    // read once and again only for a window it did not have.
    QString appOf(const QString& windowID) {
        if (!m_classes.contains(windowID)) {
            for (const QJsonValue& window : list())
                m_classes.insert(window[u"id"_qs].toString(), window[u"wmClass"_qs].toString());
        }
        return m_classes.value(windowID);
    }

    std::string skipReason;

private:
    static QJsonArray list() {
        QDBusMessage message = QDBusMessage::createMethodCall(
            u"org.gnome.Shell"_qs, u"/app/kestrune/Tessarine/Shell"_qs,
            u"app.kestrune.Tessarine.ShellWindows"_qs, u"List"_qs);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
        return QJsonDocument::fromJson(reply.arguments().value(0).toString().toUtf8())
            .object()
            .value(u"windows"_qs)
            .toArray();
    }
    QPair<QString, QString> xwayland() const {
        const QString parent = QString::number(m_process.processId());
        for (const QString& pid : QDir(u"/proc"_qs).entryList(QDir::Dirs)) {
            QFile stat(u"/proc/"_qs + pid + u"/stat"_qs);
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray fields = stat.readAll();
            const QList<QByteArray> after = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
            if (!fields.contains("(Xwayland)") || after.value(1) != parent.toUtf8())
                continue;
            QFile command(u"/proc/"_qs + pid + u"/cmdline"_qs);
            command.open(QIODevice::ReadOnly);
            const QList<QByteArray> arguments = command.readAll().split('\0');
            const QByteArray display = arguments.value(1);
            const qsizetype auth = arguments.indexOf("-auth");
            return {QString::fromUtf8(display),
                    auth >= 0 ? QString::fromUtf8(arguments.value(auth + 1)) : QString()};
        }
        return {};
    }

    QHash<QString, QString> m_classes;
    QTemporaryDir m_folder;
    QProcess m_systemBus;
    QProcess m_process;
};

// A native Wayland test application (tessarine-test-wayland-window) in a compositor.
class WaylandWindows {
public:
    WaylandWindows(const QProcessEnvironment& environment, const QString& appID,
                   const QStringList& titles) {
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(TESSARINE_TEST_WAYLAND_WINDOW), QStringList{appID} + titles);
        m_process.waitForReadyRead(10000);
        shown = m_process.readLine().startsWith("shown");
    }
    ~WaylandWindows() { quit(); }
    void send(const QString& command) {
        m_process.write((command + u'\n').toUtf8());
        m_process.waitForReadyRead(5000);
        m_process.readAll();
    }
    void quit() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    bool shown = false;

private:
    QProcess m_process;
};
