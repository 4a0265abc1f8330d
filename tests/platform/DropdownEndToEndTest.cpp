// The visible Tessarine on the test desktop: the shortcut opens the dropdown, whose controls
// an assistive technology (here AT-SPI, driven from a script) can press.
#include "EngineHarness.h"
#include "Wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace EngineHarness;

namespace {} // namespace

TEST(DropdownEndToEndTest, TheShortcutOpensTheDropdownAndItsDismissReachesTheDatabase) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce, {{u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_qs, u"1"_qs}});
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    QProcess mail;
    QProcess report;
    QProcess notes;
    const QString mailWindow = startWindow(mail, u"DropdownMail"_qs, u"Quarterly numbers"_qs);
    const QString reportWindow = startWindow(report, u"DropdownReport"_qs, u"Report"_qs);
    const QString notesWindow = startWindow(notes, u"DropdownNotes"_qs, u"Notes"_qs);
    ASSERT_TRUE(engine.activate(mailWindow, u"DropdownMail"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(reportWindow, u"DropdownReport"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(notesWindow, u"DropdownNotes"_qs)) << engine.log();

    // Notes make the backgrounded mail and report worth rows of their own.
    const QProcessEnvironment environment = engine.environment();
    QByteArray said;
    QHash<QString, QString> ids; // by application
    ASSERT_TRUE(waitFor([&] {
        runClient(environment, {u"loops"_qs, u"--json"_qs}, &said);
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array())
            ids.insert(loop[u"bundleID"_qs].toString(), loop[u"id"_qs].toString());
        return ids.contains(u"DropdownMail"_qs) && ids.contains(u"DropdownReport"_qs);
    })) << said.toStdString();
    const QString id = ids.value(u"DropdownMail"_qs);
    ASSERT_EQ(runClient(environment, {u"note"_qs, id, u"answer Dana"_qs}, &said), 0)
        << said.toStdString();
    ASSERT_EQ(
        runClient(environment, {u"note"_qs, ids.value(u"DropdownReport"_qs), u"check"_qs}, &said),
        0);
    const auto dismissed = [&](const QString& loopID) {
        Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement row(db, u"SELECT dismissed_at IS NOT NULL FROM context WHERE id = ?"_qs);
        row.bind(1, loopID);
        return row.step() && row.int64(0) == 1;
    };

    QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"alt+super+l"_qs});
    ASSERT_TRUE(waitFor([] { return !shownWindow(u"^Tessarine$"_qs).isEmpty(); })) << engine.log();
    EXPECT_TRUE(waitFor([] { return activeWindow() == shownWindow(u"^Tessarine$"_qs); }))
        << "the dropdown has the keyboard";

    ASSERT_EQ(pressControl(u"Quarterly numbers"_qs, u"Dismiss (D)"_qs, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return dismissed(id); })) << "the loop is dismissed in the database";

    // The keyboard: the first row (the report now), then "d".
    QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"Down"_qs, u"d"_qs});
    EXPECT_TRUE(waitFor([&] { return dismissed(ids.value(u"DropdownReport"_qs)); }))
        << "typed into the dropdown";

    QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"alt+super+l"_qs});
    EXPECT_TRUE(waitFor([] { return shownWindow(u"^Tessarine$"_qs).isEmpty(); }))
        << "the second press closes it";
    EXPECT_TRUE(waitFor([&] { return activeWindow() == notesWindow; }))
        << "and the window before it has the keyboard again";

    EXPECT_TRUE(engine.stop()) << engine.log();
    for (QProcess* window : {&mail, &report, &notes}) {
        window->closeWriteChannel();
        window->waitForFinished(5000);
    }
}
