#pragma once

// The real tessarine executable with an ephemeral key, and real X windows, for the
// end-to-end tests run inside scripts/test-env.sh.
#include "Wait.h"
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace EngineHarness {

// Starts xterm with `arguments`; its window's id, or an empty text.
inline QString startTerminal(QProcess& terminal, const QStringList& arguments) {
    terminal.start(QStringLiteral("xterm"), arguments);
    if (!terminal.waitForStarted())
        return {};
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--pid"),
                  QString::number(terminal.processId())});
    search.waitForFinished(10000);
    return QString::fromUtf8(search.readAllStandardOutput()).trimmed();
}

// A test window, mapped and in front (so the window manager focusing a new window cannot
// come later, in the middle of a test's own switches).
inline QString startWindow(QProcess& process, const QString& wmClass, const QString& title) {
    process.start(QStringLiteral(TESSARINE_TEST_WINDOW), {wmClass, title});
    process.waitForReadyRead(5000);
    const QString window = QString::fromUtf8(process.readLine()).trimmed();
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    return window;
}

// Runs `tessarine WORDS…` as the command-line client; its exit status, and what it said.
inline int runClient(const QProcessEnvironment& environment, const QStringList& words,
                     QByteArray* output = nullptr, const QString& workingDirectory = QString()) {
    QProcess client;
    client.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        client.setWorkingDirectory(workingDirectory);
    client.start(QStringLiteral(TESSARINE_EXECUTABLE), words);
    client.waitForFinished(10000);
    if (output)
        *output = client.readAllStandardOutput() + client.readAllStandardError();
    return client.exitCode();
}

// The visible window whose title matches `titlePattern` (a regular expression); empty when
// none is shown.
inline QString shownWindow(const QString& titlePattern) {
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), titlePattern});
    search.waitForFinished(5000);
    return QString::fromUtf8(search.readAllStandardOutput()).trimmed().section(u'\n', 0, 0);
}

// Presses the control named `control` inside the element named `place` of Tessarine's
// accessibility tree, as a screen reader would; the script's exit status and what it said.
inline int pressControl(const QString& place, const QString& control, QByteArray* said) {
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(TESSARINE_SOURCE_DIR "/tests/scripts/atspi-press.py"),
                  QStringLiteral("Tessarine"), place, control});
    script.waitForFinished(20000);
    *said = script.readAll();
    return script.exitCode();
}

// The settings file the engine of `home` reads and writes.
inline QJsonObject defaultsOf(const QTemporaryDir& home) {
    QFile file(home.filePath(QStringLiteral("config/Kestrune/defaults.json")));
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The X server's active window.
inline QString activeWindow() {
    QProcess active;
    active.start(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
    active.waitForFinished(5000);
    return QString::fromUtf8(active.readAllStandardOutput()).trimmed();
}

// Every regular file under `folder` that holds one of `secrets` as UTF-8 or UTF-16, as
// "path: secret". Only the folder itself with `recursive` false; only files changed since
// `since` when it is given.
inline QStringList filesHolding(const QString& folder, const QStringList& secrets,
                                bool recursive = true, const QDateTime& since = {}) {
    QStringList found;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System,
                       recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (files.hasNext()) {
        const QString path = files.next();
        const QFileInfo info(path);
        if (info.isSymLink() || info.size() > 64 * 1024 * 1024 ||
            (since.isValid() && info.lastModified() < since))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        for (const QString& secret : secrets) {
            const QByteArray utf16(reinterpret_cast<const char*>(secret.utf16()),
                                   secret.size() * 2);
            if (bytes.contains(secret.toUtf8()) || bytes.contains(utf16))
                found.append(path + u": "_qs + secret);
        }
    }
    return found;
}

// The id of the open loop of `bundleID` as `tessarine loops --json` lists it, waited for;
// empty when none appeared. `said` keeps the last answer.
inline QString loopIDOf(const QProcessEnvironment& environment, const QString& bundleID,
                        QByteArray& said) {
    QString id;
    waitFor([&] {
        runClient(environment, {QStringLiteral("loops"), QStringLiteral("--json")}, &said);
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array())
            if (loop[QStringLiteral("bundleID")] == bundleID)
                id = loop[QStringLiteral("id")].toString();
        return !id.isEmpty();
    });
    return id;
}

// Loops from the first focus, no autostart entry, and no welcome window.
inline const QByteArray kLoopsAtOnce = R"({"settings.engagementSeconds": 0,
    "settings.launchAtLogin.configured": true, "onboarding.completed": true})";

// The real engine with an ephemeral key, its data and settings in `home`.
class Engine {
public:
    Engine(const QTemporaryDir& home, const QByteArray& defaults,
           const QList<QPair<QString, QString>>& extraEnvironment = {})
        : m_home(home) {
        const QString config = home.filePath(u"config"_qs);
        QDir().mkpath(config + u"/Kestrune"_qs);
        QFile file(config + u"/Kestrune/defaults.json"_qs);
        if (file.open(QIODevice::WriteOnly))
            file.write(defaults);
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
        environment.insert(u"XDG_CONFIG_HOME"_qs, config);
        environment.insert(u"KESTRUNE_EPHEMERAL_KEY"_qs, u"1"_qs);
        environment.insert(u"KESTRUNE_VERBOSE"_qs, u"1"_qs);
        for (const auto& [name, value] : extraEnvironment)
            environment.insert(name, value);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(TESSARINE_EXECUTABLE));
    }
    // Reads the engine's log until it contains `text` `times` times or the time is up.
    bool waitForLog(const char* text, qsizetype times = 1, int milliseconds = 10000) {
        QElapsedTimer started;
        started.start();
        while (m_log.count(text) < times && started.elapsed() < milliseconds) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50); // servers in the test
            m_process.waitForReadyRead(50);
            readLog();
        }
        return m_log.count(text) >= times;
    }
    void readLog() { m_log += m_process.readAll(); }
    // Brings a window to the front and waits until the engine has seen the switch (X only
    // publishes the current active window: two switches the engine has not read yet would
    // be seen as one).
    // With the application's identity, waits until that application is the engine's front;
    // without, until the engine has seen one more switch.
    bool activate(const QString& window, const QString& bundleID = QString()) {
        readLog();
        const qsizetype before = m_log.count("focus_gained");
        const bool inFront = activeWindow() == window;
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        if (!bundleID.isEmpty())
            return waitUntil([&] { return frontInLog() == bundleID; });
        return inFront || waitForLog("focus_gained", before + 1);
    }
    // The application of the last focus the engine logged.
    QString frontInLog() const {
        const qsizetype at = m_log.lastIndexOf("focus_gained ");
        if (at < 0)
            return {};
        const QByteArray rest = m_log.mid(at + 13);
        return QString::fromUtf8(rest.left(rest.indexOf(' ')));
    }
    template <typename Predicate> bool waitUntil(Predicate done, int milliseconds = 10000) {
        QElapsedTimer started;
        started.start();
        while (!done() && started.elapsed() < milliseconds) {
            m_process.waitForReadyRead(50);
            readLog();
        }
        return done();
    }
    // Stops the engine; true when it ended cleanly.
    bool stop() {
        m_process.terminate();
        const bool finished = m_process.waitForFinished(10000);
        m_log += m_process.readAll();
        return finished && m_process.exitCode() == 0;
    }
    std::string log() const { return m_log.toStdString(); }
    // "bundle label | state | interrupter" of every loop, by bundle id.
    QStringList loops() const {
        Database db(m_home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement rows(db, u"SELECT s.bundle_id, c.label, c.state, c.interrupted_by_bundle FROM "
                           "context c JOIN source s ON s.id = c.source_id ORDER BY s.bundle_id, "
                           "c.label"_qs);
        QStringList list;
        while (rows.step())
            list.append(rows.text(0).value_or(QString()) + u' ' + rows.text(1).value_or(QString()) +
                        u" | "_qs + rows.text(2).value_or(QString()) + u" | "_qs +
                        rows.text(3).value_or(u"-"_qs));
        return list;
    }

    // "kind signal detail" of every detector signal, in order.
    QStringList detectorSignals() const {
        Database db(m_home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement rows(db, u"SELECT detector_kind, signal, signal_detail FROM detector_state "
                           "ORDER BY rowid"_qs);
        QStringList list;
        while (rows.step())
            list.append(rows.text(0).value_or(QString()) + u' ' + rows.text(1).value_or(QString()) +
                        u' ' + rows.text(2).value_or(QString()));
        return list;
    }
    QByteArray rawLog() const { return m_log; }
    QProcessEnvironment environment() const { return m_process.processEnvironment(); }
    qint64 processId() const { return m_process.processId(); }

private:
    const QTemporaryDir& m_home;
    QProcess m_process;
    QByteArray m_log;
};

inline void writeAll(const QString& path, const QByteArray& contents,
                     QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(mode))
        file.write(contents);
}

} // namespace EngineHarness
