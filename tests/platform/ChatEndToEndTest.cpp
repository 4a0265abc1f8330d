// Runs inside scripts/test-env.sh: the real engine with the accessibility switch on, and a
// Qt Quick chat of ours read and pressed through AT-SPI.
#include "AccessibleChromium.h"
#include "ChatPageServer.h"
#include "EngineHarness.h"
#include "Wait.h"
#include "platform/linux/A11yBusSwitch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <csignal>

using namespace EngineHarness;

TEST(ChatEndToEndTest, AnAnswerFinishingElsewhereMakesItsLoopReadyAndAPromptIsAnsweredFromHere) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    ASSERT_TRUE(A11yBusSwitch().enable()) << "the desktop's accessibility switch";
    QProcess chat;
    chat.start(QStringLiteral(TESSARINE_TEST_CHAT));
    ASSERT_TRUE(chat.waitForReadyRead(10000));
    chat.readAll();
    const auto send = [&chat](const char* command) {
        chat.write(QByteArray(command) + '\n');
        QByteArray said;
        waitFor([&] {
            said += chat.readAll();
            return said.contains("done\n");
        });
    };
    QString chatWindow;
    waitFor([&] { // its window, once mapped
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--pid"), QString::number(chat.processId())});
        search.waitForFinished(5000);
        chatWindow = QString::fromUtf8(search.readAllStandardOutput()).trimmed().section(u'\n', -1);
        return !chatWindow.isEmpty();
    });
    ASSERT_FALSE(chatWindow.isEmpty());

    QTemporaryDir home;
    QJsonObject defaults = QJsonDocument::fromJson(kLoopsAtOnce).object();
    defaults.insert(u"settings.axChatBundleIDs"_qs, QJsonArray{u"tessarine-test-chat"_qs});
    defaults.insert(u"settings.remoteApprove"_qs, true);
    Engine engine(home, QJsonDocument(defaults).toJson());
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess other;
    const QString otherWindow = startWindow(other, u"EndToEndOther"_qs, u"Other"_qs);

    ASSERT_TRUE(engine.activate(chatWindow, u"tessarine-test-chat"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    send("generating on");
    ASSERT_TRUE(engine.waitUntil([&] {
        return engine.detectorSignals().contains(u"ax_chat pending ai_chat_generating"_qs);
    })) << engine.log();
    send("generating off");
    ASSERT_TRUE(engine.waitUntil([&] {
        return engine.detectorSignals().contains(u"ax_chat ready ai_chat_response_complete"_qs);
    })) << engine.log();
    const QString loops = engine.loops().join(u'\n');
    EXPECT_TRUE(loops.contains(QRegularExpression(u"^tessarine-test-chat .*\\| ready \\|"_qs,
                                                  QRegularExpression::MultilineOption)))
        << loops.toStdString();

    // An Allow / Deny prompt, answered with the chat's own button from the command line.
    send("ask on");
    QByteArray said;
    QString id;
    ASSERT_TRUE(waitFor([&] {
        runClient(engine.environment(), {u"loops"_qs, u"--json"_qs}, &said);
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array()) {
            if (loop[u"bundleID"_qs] == u"tessarine-test-chat"_qs)
                id = loop[u"id"_qs].toString();
        }
        return !id.isEmpty();
    })) << said.toStdString();
    EXPECT_EQ(runClient(engine.environment(), {u"approve"_qs, id}, &said), 0) << said.toStdString();
    QByteArray pressed;
    EXPECT_TRUE(waitFor([&] {
        pressed += chat.readAll();
        return pressed.contains("pressed Allow once\n");
    })) << pressed.toStdString()
        << engine.log();
    EXPECT_FALSE(pressed.contains("Always allow")) << "never the escalating approval";

    // A chat that stops answering stalls nothing: its reading runs out and the chat is left
    // alone, focus goes on being followed and the command line is answered.
    ::kill(static_cast<pid_t>(chat.processId()), SIGSTOP);
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(chatWindow, u"tessarine-test-chat"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    EXPECT_TRUE(engine.waitForLog("did not answer within")) << engine.log();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(engine.activate(chatWindow, u"tessarine-test-chat"_qs)) << engine.log();
        ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    }
    EXPECT_EQ(runClient(engine.environment(), {u"loops"_qs}, &said), 0) << said.toStdString();
    ::kill(static_cast<pid_t>(chat.processId()), SIGCONT);

    EXPECT_TRUE(engine.stop()) << engine.log();
    chat.closeWriteChannel();
    other.closeWriteChannel();
    chat.waitForFinished(5000);
    other.waitForFinished(5000);
}

TEST(ChatEndToEndTest, ChromiumsStopControlAndItsTabsAddressAreReadThroughAccessibility) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    ASSERT_TRUE(A11yBusSwitch().enable()) << "the desktop's accessibility switch";
    PageServer server;
    QTemporaryDir home;
    QJsonObject defaults = QJsonDocument::fromJson(kLoopsAtOnce).object();
    defaults.insert(u"settings.axChatBundleIDs"_qs, QJsonArray{u"org.chromium.Chromium"_qs});
    defaults.insert(u"settings.urlReceipts"_qs, true);
    Engine engine(home, QJsonDocument(defaults).toJson());
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess other;
    const QString otherWindow = startWindow(other, u"EndToEndOther"_qs, u"Other"_qs);

    AccessibleChromium chromium(home.filePath(u"chromium"_qs), server.url());
    ASSERT_TRUE(waitFor([&] { return server.polls > 0; }, 30000))
        << chromium.process.readAll().toStdString();
    const QString browserWindow = chromium.window();
    ASSERT_FALSE(browserWindow.isEmpty());

    // Its tab's address is kept with the loop when the browser comes to the front (again:
    // it came first before its page had loaded).
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(browserWindow, u"org.chromium.Chromium"_qs)) << engine.log();
    const QString address = server.url();
    ASSERT_TRUE(engine.waitUntil([&] {
        Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        return db.scalarInt(u"SELECT COUNT(*) FROM return_action WHERE payload = '"_qs + address +
                            u"'"_qs)
                   .value_or(0) > 0;
    })) << "the page's own address, scheme and port included: "
        << engine.log();

    // The page's answer streams and finishes while the user is elsewhere. The page asks this
    // process for its state, so the waits serve it.
    const auto signalled = [&](const QString& signal) {
        QCoreApplication::processEvents();
        return engine.detectorSignals().contains(signal);
    };
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    server.state = "generating";
    ASSERT_TRUE(engine.waitUntil(
        [&] { return signalled(u"ax_chat pending ai_chat_generating"_qs); }, 15000))
        << engine.log();
    server.state = "idle";
    ASSERT_TRUE(engine.waitUntil(
        [&] { return signalled(u"ax_chat ready ai_chat_response_complete"_qs); }, 15000))
        << engine.log();

    EXPECT_TRUE(engine.stop()) << engine.log();
    other.closeWriteChannel();
    other.waitForFinished(5000);
}
