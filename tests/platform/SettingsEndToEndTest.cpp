// The settings window on the test desktop, driven through AT-SPI: what it writes lands in
// defaults.json with its type, takes effect, and the privacy controls do what they say.
#include "EngineHarness.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>

using namespace EngineHarness;

namespace {

qint64 count(const QTemporaryDir& home, const QString& sql) {
    Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
    db.applyKey(EphemeralKeyProvider::developmentKey());
    return db.scalarInt(sql).value_or(-1);
}

const QString kSettings = u"Tessarine Settings"_qs;

} // namespace

TEST(SettingsEndToEndTest, SwitchesLandTypedAndThePrivacyControlsDoWhatTheySay) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    // The mail program is installed: the picker offers it by its desktop entry's name.
    writeAll(home.filePath(u"data/applications/SettingsMail.desktop"_qs),
             "[Desktop Entry]\nType=Application\nName=Settings Mail\nExec=true\n");
    Engine engine(home, kLoopsAtOnce, {{u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_qs, u"1"_qs}});
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess mail;
    QProcess notes;
    const QString mailWindow = startWindow(mail, u"SettingsMail"_qs, u"Inbox"_qs);
    const QString notesWindow = startWindow(notes, u"SettingsNotes"_qs, u"Notes"_qs);
    ASSERT_TRUE(engine.activate(mailWindow, u"SettingsMail"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(notesWindow, u"SettingsNotes"_qs)) << engine.log();

    // The control interface's OpenSettings, as `tessarine` sends it.
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(u"app.kestrune.Tessarine"_qs, u"/app/kestrune/Tessarine"_qs,
                                       u"app.kestrune.Tessarine1"_qs, u"OpenSettings"_qs));
    ASSERT_TRUE(waitFor([] { return !shownWindow(u"^Tessarine Settings$"_qs).isEmpty(); }))
        << engine.log();

    QByteArray said;
    ASSERT_EQ(pressControl(kSettings, u"Coach"_qs, &said), 0) << said.toStdString();
    EXPECT_TRUE(waitFor(
        [&] { return defaultsOf(home).value(u"settings.sensoryProfile"_qs) == u"coach"_qs; }));
    ASSERT_EQ(pressControl(kSettings, u"Privacy"_qs, &said), 0) << said.toStdString();
    ASSERT_EQ(pressControl(kSettings, u"Remember exact page addresses"_qs, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return defaultsOf(home).value(u"settings.urlReceipts"_qs) == true; }))
        << "a flag, not text";
    EXPECT_TRUE(waitFor([&] {
        return count(home, u"SELECT COUNT(*) FROM audit_log WHERE action = "
                           "'url_receipts_enabled'"_qs) == 1;
    }));

    // Excluding the mail program through the picker erases its loops and lists it.
    ASSERT_GT(count(home, u"SELECT COUNT(*) FROM context c JOIN source s ON s.id = c.source_id "
                          "WHERE s.bundle_id = 'SettingsMail'"_qs),
              0);
    ASSERT_EQ(pressControl(kSettings, u"Add Application…"_qs, &said), 0) << said.toStdString();
    ASSERT_EQ(pressControl(kSettings, u"Settings Mail"_qs, &said), 0) << said.toStdString();
    EXPECT_TRUE(waitFor([&] {
        return count(home, u"SELECT COUNT(*) FROM context c JOIN source s ON s.id = c.source_id "
                           "WHERE s.bundle_id = 'SettingsMail'"_qs) == 0;
    })) << "its loops are erased";
    EXPECT_EQ(count(home, u"SELECT COUNT(*) FROM privacy_rule WHERE scope = 'app' AND matcher = "
                          "'SettingsMail'"_qs),
              1);
    EXPECT_EQ(pressControl(kSettings, u"Remove Settings Mail"_qs, &said), 0)
        << "listed by its name, removable: " << said.toStdString();

    // Export: the save dialog proposes the file name; a path typed into it is used.
    ASSERT_EQ(pressControl(kSettings, u"Export…"_qs, &said), 0) << said.toStdString();
    ASSERT_TRUE(waitFor([] {
        return !shownWindow(u"^Export your Tessarine data to a local file.$"_qs).isEmpty();
    }));
    const QString exported = home.filePath(u"tessarine-export.json"_qs);
    QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"ctrl+a"_qs});
    QProcess::execute(u"xdotool"_qs, {u"type"_qs, u"--delay"_qs, u"2"_qs, exported});
    QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"Return"_qs});
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(exported); })) << engine.log();
    EXPECT_EQ(QFileInfo(exported).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0)
        << "private to the user";

    // Delete everything, after the confirmation names it.
    ASSERT_GT(count(home, u"SELECT COUNT(*) FROM context"_qs), 0);
    ASSERT_EQ(pressControl(kSettings, u"Delete Everything…"_qs, &said), 0) << said.toStdString();
    ASSERT_EQ(pressControl(u"Delete everything?"_qs, u"Delete Everything"_qs, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return count(home, u"SELECT COUNT(*) FROM context"_qs) == 0; }));

    EXPECT_TRUE(engine.stop()) << engine.log();
    for (QProcess* window : {&mail, &notes}) {
        window->closeWriteChannel();
        window->waitForFinished(5000);
    }
}
