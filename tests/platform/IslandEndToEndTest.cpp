// The island on the test desktop, under a stand-in top panel that reserves 30 px.
#include "EngineHarness.h"
#include "Wait.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>

using namespace EngineHarness;

namespace {

QRect geometryOf(const QString& window) {
    QProcess info;
    info.start(u"xdotool"_qs, {u"getwindowgeometry"_qs, u"--shell"_qs, window});
    info.waitForFinished(5000);
    QHash<QString, int> values;
    for (const QByteArray& line : info.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2)
            values.insert(QString::fromLatin1(pair[0]), pair[1].toInt());
    }
    return {values.value(u"X"_qs), values.value(u"Y"_qs), values.value(u"WIDTH"_qs),
            values.value(u"HEIGHT"_qs)};
}

QString island() {
    return shownWindow(u"^Tessarine island$"_qs);
}

} // namespace

TEST(IslandEndToEndTest, APillUnderThePanelThatNeverTakesFocusAndDropsDownOnHover) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QProcess panel;
    const QString panelWindow = startWindow(panel, u"TopPanel"_qs, u"Panel"_qs);
    QProcess::execute(u"xprop"_qs,
                      {u"-id"_qs, panelWindow, u"-f"_qs, u"_NET_WM_STRUT_PARTIAL"_qs, u"32c"_qs,
                       u"-set"_qs, u"_NET_WM_STRUT_PARTIAL"_qs, u"0,0,30,0,0,0,0,0,0,1279,0,0"_qs});
    QProcess::execute(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"500"_qs});

    QTemporaryDir home;
    QByteArray said;
    {
        // First launch of this build: the island peeks, expanded, with nothing open yet.
        Engine first(home, kLoopsAtOnce);
        ASSERT_TRUE(first.waitForLog("Tessarine is running")) << first.log();
        EXPECT_TRUE(waitFor([] { return !island().isEmpty(); })) << "the launch peek";
        EXPECT_GT(geometryOf(island()).height(), 28);
        EXPECT_TRUE(waitFor([] { return island().isEmpty(); }, 10000)) << "gone after the peek";
        EXPECT_FALSE(
            defaultsOf(home).value(u"settings.notchHUD.peekedBuild"_qs).toString().isEmpty());
        EXPECT_TRUE(first.stop());
    }

    Engine engine(home, QJsonDocument(defaultsOf(home)).toJson());
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    // A command left running in a terminal: a working loop.
    QProcess terminal;
    const QString terminalWindow = startTerminal(
        terminal, {u"-T"_qs, u"make build"_qs, u"-e"_qs, u"sh"_qs, u"-c"_qs, u"sleep 60"_qs});
    QProcess notes;
    const QString notesWindow = startWindow(notes, u"IslandNotes"_qs, u"Notes"_qs);
    ASSERT_TRUE(engine.activate(terminalWindow)) << engine.log();
    ASSERT_TRUE(engine.activate(notesWindow, u"IslandNotes"_qs)) << engine.log();
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();

    ASSERT_TRUE(waitFor([] { return !island().isEmpty(); })) << engine.log();
    const QRect pill = geometryOf(island());
    EXPECT_EQ(pill.y(), 36) << "6 px under the 30 px panel";
    EXPECT_EQ(pill.height(), 28);
    EXPECT_EQ(pill.x() + pill.width() / 2, 640) << "top centre";
    EXPECT_FALSE(engine.rawLog().contains("Showing the welcome window"));
    EXPECT_EQ(activeWindow(), notesWindow) << "showing it took no focus";

    // The pointer on it drops the board down; away, it folds back up.
    QProcess::execute(u"xdotool"_qs, {u"mousemove"_qs, u"640"_qs, u"48"_qs});
    EXPECT_TRUE(waitFor([] { return geometryOf(island()).height() > 28; }));
    EXPECT_EQ(activeWindow(), notesWindow) << "hovering took no focus either";
    QProcess::execute(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"500"_qs});
    EXPECT_TRUE(waitFor([] { return geometryOf(island()).height() == 28; }));

    // The menu-bar surface hides it at once.
    QJsonObject settings = defaultsOf(home);
    settings.insert(u"settings.primarySurface"_qs, u"menubar"_qs);
    writeAll(home.filePath(u"config/Kestrune/defaults.json"_qs), QJsonDocument(settings).toJson());
    EXPECT_TRUE(waitFor([] { return island().isEmpty(); }));

    EXPECT_TRUE(engine.stop()) << engine.log();
    terminal.kill();
    terminal.waitForFinished();
    for (QProcess* window : {&notes, &panel}) {
        window->closeWriteChannel();
        window->waitForFinished(5000);
    }
}
