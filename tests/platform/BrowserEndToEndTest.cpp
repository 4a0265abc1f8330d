// Runs inside scripts/test-env.sh: a chat page in headless Chromium with the companion
// loaded → kestrune-native-host → tessarine → a browser loop that waits and then is ready;
// and a focus request from Tessarine back to the companion.
#include "ChatPageServer.h"
#include "EngineHarness.h"
#include "Wait.h"
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

// The shipped companion, also allowed on the local test page.
QString companionForTest(const QTemporaryDir& home) {
    const QString folder = home.filePath(u"companion"_qs);
    QProcess::execute(u"cp"_qs,
                      {u"-r"_qs, QStringLiteral(TESSARINE_SOURCE_DIR "/extension"), folder});
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

    // The browser's window, as the user left it: a loop for the chat's tab.
    QProcess browserWindow;
    QProcess other;
    const QString chatWindow =
        startWindow(browserWindow, u"chromium"_qs, u"ChatGPT - Trip plan"_qs);
    const QString otherWindow = startWindow(other, u"EndToEndNotes"_qs, u"Notes"_qs);
    ASSERT_TRUE(engine.activate(chatWindow, u"org.chromium.Chromium"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndNotes"_qs)) << engine.log();

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
                    u"--load-extension="_qs + companionForTest(home), server.url()});
    ASSERT_TRUE(chromium.waitForStarted());
    // A cold browser start can be slow on a loaded machine.
    const bool loaded = waitFor([&] { return server.polls > 0; }, 30000);
    server.state = "generating";
    const bool started = loaded && engine.waitForLog("→ waiting", 1, 15000);
    server.state = "done";
    const bool completed = started && engine.waitForLog("response_complete:chatgpt", 1, 15000);
    QByteArray browserLog = chromium.readAll();

    // Tessarine asks the host that reported the tab to bring it to the front.
    const QRegularExpression route(u"browser route \\S+: tab (\\d+) via (\\S+)"_qs);
    const QRegularExpressionMatch found = route.match(QString::fromUtf8(engine.rawLog()));
    bool focusArrived = false;
    if (found.hasMatch()) {
        UnixDatagramMessagePort port;
        port.send(found.captured(2),
                  QJsonDocument(QJsonObject{{u"action"_qs, u"focus_tab"_qs},
                                            {u"tabId"_qs, found.captured(1).toInt()}})
                      .toJson(QJsonDocument::Compact));
        const QByteArray expected = "Tessarine: focus_tab " + found.captured(1).toUtf8();
        QElapsedTimer waited;
        waited.start();
        while (!browserLog.contains(expected) && waited.elapsed() < 15000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            chromium.waitForReadyRead(50);
            browserLog += chromium.readAll();
        }
        focusArrived = browserLog.contains(expected);
    }
    ::kill(-static_cast<pid_t>(chromium.processId()), SIGKILL);
    chromium.waitForFinished(5000);
    EXPECT_TRUE(engine.stop()) << engine.log();
    browserWindow.closeWriteChannel();
    other.closeWriteChannel();
    browserWindow.waitForFinished(5000);
    other.waitForFinished(5000);

    ASSERT_TRUE(loaded) << "the page never ran" << browserLog.toStdString();
    ASSERT_TRUE(started) << engine.log() << browserLog.toStdString();
    ASSERT_TRUE(completed) << engine.log() << browserLog.toStdString();
    EXPECT_TRUE(engine.loops().contains(
        u"org.chromium.Chromium ChatGPT - Trip plan | ready | EndToEndNotes"_qs))
        << engine.loops().join(u'\n').toStdString();
    EXPECT_EQ(engine.detectorSignals(),
              (QStringList{u"browser pending generation_started:chatgpt"_qs,
                           u"browser ready response_complete:chatgpt"_qs}));
    ASSERT_TRUE(found.hasMatch()) << engine.log();
    EXPECT_TRUE(focusArrived) << browserLog.toStdString();

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
