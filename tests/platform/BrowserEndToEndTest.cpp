// Runs inside scripts/test-env.sh: a chat page in headless Chromium, then in headless Firefox
// ESR, with the companion loaded → kestrune-native-host → tessarine → a browser loop that
// waits and then is ready; and a focus request from Tessarine back to the companion.
#include "ChatPageServer.h"
#include "EngineHarness.h"
#include "Wait.h"
#include "detectors/BrowserDetector.h"
#include "platform/linux/UnixDatagramMessagePort.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>

using namespace EngineHarness;

namespace {

// A copy of the companion folder `source` in `folder`, also allowed on the local test page.
QString companionForTest(const QString& source, const QString& folder) {
    QProcess::execute(u"cp"_qs, {u"-r"_qs, source, folder});
    QFile file(folder + u"/manifest.json"_qs);
    if (!file.open(QIODevice::ReadWrite))
        return {};
    QJsonObject manifest = QJsonDocument::fromJson(file.readAll()).object();
    QJsonArray scripts = manifest.value(u"content_scripts"_qs).toArray();
    QJsonObject chatgpt = scripts.at(0).toObject();
    QJsonArray matches = chatgpt.value(u"matches"_qs).toArray();
    matches.append(u"http://127.0.0.1/*"_qs);
    chatgpt.insert(u"matches"_qs, matches);
    scripts.replace(0, chatgpt);
    manifest.insert(u"content_scripts"_qs, scripts);
    file.resize(0);
    file.write(QJsonDocument(manifest).toJson());
    return folder;
}

// What a browser with the companion did with the local chat page.
struct ChatRun {
    bool loaded = false;              // the page's script ran
    bool started = false;             // the loop went waiting when the stop control appeared
    bool completed = false;           // the completion reached the engine when it went
    std::optional<bool> focusArrived; // nothing when no route to the tab was logged
    QByteArray browserLog;
};

void readBrowser(QProcess& browser, QByteArray& log) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    browser.waitForReadyRead(50);
    log += browser.readAll();
}

// The chat starts and finishes answering in `browser`; then Tessarine asks the host that
// reported the tab to bring it to the front, as going back to the loop does.
ChatRun runChat(Engine& engine, PageServer& server, QProcess& browser) {
    ChatRun run;
    // A cold browser start can be slow on a loaded machine.
    run.loaded = waitFor([&] { return server.polls > 0; }, 30000);
    server.state = "generating";
    run.started = run.loaded && engine.waitForLog("→ waiting", 1, 15000);
    server.state = "done";
    run.completed = run.started && engine.waitForLog("response_complete:chatgpt", 1, 15000);
    run.browserLog = browser.readAll();

    const QRegularExpression route(u"browser route \\S+: tab (\\d+) via (\\S+)"_qs);
    const QRegularExpressionMatch found = route.match(QString::fromUtf8(engine.rawLog()));
    if (found.hasMatch()) {
        UnixDatagramMessagePort port;
        port.send(found.captured(2),
                  QJsonDocument(QJsonObject{{u"action"_qs, u"focus_tab"_qs},
                                            {u"tabId"_qs, found.captured(1).toInt()}})
                      .toJson(QJsonDocument::Compact));
        // The add-on says so once the tab is in front.
        const QByteArray expected = "Tessarine: focused tab " + found.captured(1).toUtf8();
        QElapsedTimer waited;
        waited.start();
        while (!run.browserLog.contains(expected) && waited.elapsed() < 15000)
            readBrowser(browser, run.browserLog);
        run.focusArrived = run.browserLog.contains(expected);
    }
    ::kill(-static_cast<pid_t>(browser.processId()), SIGKILL);
    browser.waitForFinished(5000);
    return run;
}

// The loop of `bundleID` went waiting then ready, the companion's signals were stored, and
// the tab's route worked.
void expectAReadyLoopAndAFocusedTab(Engine& engine, const ChatRun& run, const QString& bundleID) {
    ASSERT_TRUE(run.loaded) << "the page never ran" << run.browserLog.toStdString();
    ASSERT_TRUE(run.started) << engine.log() << run.browserLog.toStdString();
    ASSERT_TRUE(run.completed) << engine.log() << run.browserLog.toStdString();
    EXPECT_TRUE(
        engine.loops().contains(bundleID + u" ChatGPT - Trip plan | ready | EndToEndNotes"_qs))
        << engine.loops().join(u'\n').toStdString();
    EXPECT_EQ(engine.detectorSignals(),
              (QStringList{u"browser pending generation_started:chatgpt"_qs,
                           u"browser ready response_complete:chatgpt"_qs}));
    ASSERT_TRUE(run.focusArrived.has_value()) << engine.log();
    EXPECT_TRUE(*run.focusArrived) << run.browserLog.toStdString();
}

// The user's browser window with the chat, and another application in front of it.
class Windows {
public:
    Windows(Engine& engine, const QString& wmClass, const QString& bundleID) {
        const QString chat = startWindow(m_browser, wmClass, u"ChatGPT - Trip plan"_qs);
        const QString notes = startWindow(m_other, u"EndToEndNotes"_qs, u"Notes"_qs);
        ready = engine.activate(chat, bundleID) && engine.activate(notes, u"EndToEndNotes"_qs);
    }
    ~Windows() {
        for (QProcess* window : {&m_browser, &m_other}) {
            window->closeWriteChannel();
            window->waitForFinished(5000);
        }
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;
    bool ready = false;

private:
    QProcess m_browser;
    QProcess m_other;
};

} // namespace

TEST(BrowserEndToEndTest, AChatInChromiumBecomesAWaitingThenReadyLoopAndItsTabCanBeFocused) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    // Chromium's own data folder is where tessarine writes the host manifest for it.
    const QString userData = home.filePath(u"config/chromium"_qs);
    QDir().mkpath(userData);
    PageServer server;
    Engine engine(home, R"({"settings.engagementSeconds": 0, "settings.launchAtLogin.configured":
        true, "onboarding.completed": true, "settings.urlReceipts": true})");
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    ASSERT_TRUE(QFile::exists(userData + u"/NativeMessagingHosts/app.kestrune.host.json"_qs));
    Windows windows(engine, u"chromium"_qs, u"org.chromium.Chromium"_qs);
    ASSERT_TRUE(windows.ready) << engine.log();

    QProcess chromium;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_qs, home.filePath(u"browser-home"_qs));
    chromium.setProcessEnvironment(environment);
    chromium.setProcessChannelMode(QProcess::MergedChannels);
    chromium.start(u"setsid"_qs,
                   {u"chromium"_qs, u"--headless=new"_qs, u"--no-sandbox"_qs, u"--disable-gpu"_qs,
                    u"--no-first-run"_qs, u"--disable-background-networking"_qs,
                    u"--disable-component-update"_qs, u"--disable-sync"_qs,
                    u"--enable-logging=stderr"_qs, u"--user-data-dir="_qs + userData,
                    u"--load-extension="_qs +
                        companionForTest(QStringLiteral(TESSARINE_SOURCE_DIR "/extension"),
                                         home.filePath(u"companion"_qs)),
                    server.url()});
    ASSERT_TRUE(chromium.waitForStarted());
    const ChatRun run = runChat(engine, server, chromium);
    EXPECT_TRUE(engine.stop()) << engine.log();
    ASSERT_NO_FATAL_FAILURE(
        expectAReadyLoopAndAFocusedTab(engine, run, u"org.chromium.Chromium"_qs));

    // The page's exact address is kept (exact pages are on), readable only through the key
    // (Chromium's own folder holds it too, of course: only ours are read).
    const QString address = server.url().mid(7); // "127.0.0.1:PORT/chat"
    Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
    db.applyKey(EphemeralKeyProvider::developmentKey());
    Statement kept(db, u"SELECT COUNT(*) FROM document_ref WHERE locator LIKE ?"_qs);
    kept.bindAll(u"%"_qs + address + u"%"_qs);
    ASSERT_TRUE(kept.step());
    EXPECT_GT(kept.int64(0).value_or(0), 0) << "the address was not kept";
    EXPECT_EQ(filesHolding(home.filePath(u"data"_qs), {address}) +
                  filesHolding(home.filePath(u"config/Kestrune"_qs), {address}),
              QStringList());
    EXPECT_FALSE(engine.rawLog().contains(address.toUtf8())) << engine.log();
}

// Debian's Firefox ESR with the companion's Firefox package, installed as a user would with
// signature checks off: in the profile's extensions folder under its add-on id.
TEST(BrowserEndToEndTest, AChatInFirefoxBecomesAWaitingThenReadyLoopAndItsTabCanBeFocused) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    const QString browserHome = home.filePath(u"browser-home"_qs);
    // ~/.mozilla is what shows tessarine that Firefox is installed.
    QDir().mkpath(browserHome + u"/.mozilla"_qs);
    const QString profile = browserHome + u"/profile"_qs;
    QDir().mkpath(profile + u"/extensions"_qs);
    const QString companion = companionForTest(
        QStringLiteral(TESSARINE_FIREFOX_COMPANION "/Firefox"), home.filePath(u"companion"_qs));
    QProcess zip;
    zip.setWorkingDirectory(companion);
    zip.start(
        u"python3"_qs,
        QStringList{u"-m"_qs, u"zipfile"_qs, u"-c"_qs,
                    profile + u"/extensions/"_qs + BrowserDetector::firefoxAddonID + u".xpi"_qs} +
            QDir(companion).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));
    ASSERT_TRUE(zip.waitForFinished(10000) && zip.exitCode() == 0) << zip.readAll().toStdString();
    QFile preferences(profile + u"/user.js"_qs);
    ASSERT_TRUE(preferences.open(QIODevice::WriteOnly));
    preferences.write(R"(user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("devtools.console.stdout.chrome", true);
user_pref("devtools.console.stdout.content", true);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
)");
    preferences.close();

    PageServer server;
    Engine engine(home, kLoopsAtOnce, {{u"HOME"_qs, browserHome}});
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    // Field by field: Firefox starts the host only for an add-on id it lists.
    const QJsonObject manifest = [&] {
        QFile file(browserHome + u"/.mozilla/native-messaging-hosts/app.kestrune.host.json"_qs);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }();
    EXPECT_EQ(manifest,
              (QJsonObject{
                  {u"name"_qs, u"app.kestrune.host"_qs},
                  {u"description"_qs, u"Tessarine native messaging host \u2014 relays "
                                      "AI-completion signals to the local app."_qs},
                  {u"path"_qs, QFileInfo(QStringLiteral(TESSARINE_EXECUTABLE)).path() +
                                   u"/kestrune-native-host"_qs},
                  {u"type"_qs, u"stdio"_qs},
                  {u"allowed_extensions"_qs, QJsonArray{u"companion@tessarine.kestrune.app"_qs}}}));
    Windows windows(engine, u"firefox-esr"_qs, u"org.mozilla.firefox"_qs);
    ASSERT_TRUE(windows.ready) << engine.log();

    QProcess firefox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_qs, browserHome);
    environment.insert(u"MOZ_CRASHREPORTER_DISABLE"_qs, u"1"_qs);
    firefox.setProcessEnvironment(environment);
    firefox.setProcessChannelMode(QProcess::MergedChannels);
    firefox.start(u"setsid"_qs, {u"firefox-esr"_qs, u"--headless"_qs, u"--no-remote"_qs,
                                 u"--profile"_qs, profile, server.url()});
    ASSERT_TRUE(firefox.waitForStarted());
    const ChatRun run = runChat(engine, server, firefox);
    EXPECT_TRUE(engine.stop()) << engine.log();
    ASSERT_NO_FATAL_FAILURE(expectAReadyLoopAndAFocusedTab(engine, run, u"org.mozilla.firefox"_qs));
}
