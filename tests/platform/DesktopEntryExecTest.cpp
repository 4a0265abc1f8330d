#include "platform/linux/DesktopEntryExec.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostartLoginItem.h"

#include <QProcess>
#include <QStandardPaths>

#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::optional<QStringList> run(const char* exec, std::optional<QString> target = std::nullopt) {
    return DesktopEntryExec::arguments(
        {QString::fromUtf8(exec), u"Web Browser"_qs, u"web-browser"_qs, u"/apps/web.desktop"_qs},
        target);
}

} // namespace

TEST(DesktopEntryExecTest, FieldCodesQuotingAndEscapes) {
    EXPECT_EQ(run("browser %U", u"https://a.example/?q=1&x=2"_qs),
              (QStringList{u"browser"_qs, u"https://a.example/?q=1&x=2"_qs}))
        << "the address is one argument, whatever it holds";
    EXPECT_EQ(run("browser %U"), QStringList{u"browser"_qs}) << "no address: the code goes";
    EXPECT_EQ(run("viewer %f", u"file:///home/me/a%20b.pdf"_qs),
              (QStringList{u"viewer"_qs, u"/home/me/a b.pdf"_qs}));
    EXPECT_EQ(run("viewer %f", u"https://a.example/"_qs), QStringList{u"viewer"_qs})
        << "%f takes local files only";
    EXPECT_EQ(run("app %i --class=%c %k 100%%"),
              (QStringList{u"app"_qs, u"--icon"_qs, u"web-browser"_qs, u"--class=Web Browser"_qs,
                           u"/apps/web.desktop"_qs, u"100%"_qs}));
    EXPECT_EQ(run(R"("/opt/My App/run" --title "say \"hi\" \$HOME \\ \`x\`" %u)", u"x:y"_qs),
              (QStringList{u"/opt/My App/run"_qs, u"--title"_qs, u"say \"hi\" $HOME \\ `x`"_qs,
                           u"x:y"_qs}));
    EXPECT_EQ(run("sh -c \"echo $(id)\""), (QStringList{u"sh"_qs, u"-c"_qs, u"echo $(id)"_qs}))
        << "passed as written, to no shell of ours";
    EXPECT_EQ(run("app %d %D %n %N %v %m"), QStringList{u"app"_qs}) << "deprecated codes go";
    EXPECT_FALSE(run("\"unclosed"));
    EXPECT_FALSE(run("   "));
}

TEST(DesktopEntryExecTest, AnIdentityIsLaunchedThroughItsOwnEntryWithTheAddress) {
    QTemporaryDir dir;
    const QString record = dir.filePath(u"arguments"_qs);
    const QString script = dir.filePath(u"stand-in browser.sh"_qs);
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" '" +
                   record.toUtf8() + "'\n");
    }
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(dir.filePath(u"applications"_qs));
    {
        QFile entry(dir.filePath(u"applications/vivaldi-stable.desktop"_qs));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nName=Vivaldi\nExec=\"" + script.toUtf8() +
                    "\" --new-tab %U\n[Desktop Action new]\nExec=ignored\n");
    }
    X11Workspace workspace(0, AppIdentityResolver({dir.filePath(u"applications"_qs)}));
    EXPECT_TRUE(workspace.launchApplication(u"com.vivaldi.Vivaldi"_qs,
                                            u"https://chat.example/c/1?a=1;b=2"_qs));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(record); }));
    QFile arguments(record);
    ASSERT_TRUE(arguments.open(QIODevice::ReadOnly));
    EXPECT_EQ(arguments.readAll(), "--new-tab\nhttps://chat.example/c/1?a=1;b=2\n");
    EXPECT_FALSE(workspace.launchApplication(u"org.example.NotInstalled"_qs, std::nullopt));
    EXPECT_FALSE(workspace.copyText(u"text"_qs)) << "no clipboard without a GUI application";
}

TEST(XdgAutostartLoginItemTest, TheEntryStartsThisExecutableAndGoesWhenUnregistered) {
    QTemporaryDir dir;
    XdgAutostartLoginItem item(u"/opt/My \"Apps\"/tessarine"_qs, dir.filePath(u"autostart"_qs));
    EXPECT_FALSE(item.isRegistered());
    item.registerMainApplication();
    EXPECT_TRUE(item.isRegistered());
    const std::optional<DesktopEntryExec::Entry> entry = DesktopEntryExec::read(item.entryPath());
    ASSERT_TRUE(entry);
    EXPECT_EQ(DesktopEntryExec::arguments(*entry, std::nullopt),
              QStringList{u"/opt/My \"Apps\"/tessarine"_qs})
        << "the path survives the desktop entry's quoting";
    QFile written(item.entryPath());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("\nTryExec=/opt/My \"Apps\"/tessarine\n"))
        << "an uninstalled program is skipped at login";
    const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_qs);
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {item.entryPath()});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }
    item.unregisterMainApplication();
    EXPECT_FALSE(item.isRegistered());
    EXPECT_NO_THROW(item.unregisterMainApplication()) << "already gone is fine";

    // An installed executable starts through its bin link; a build folder's as it is.
    const QString prefix = dir.filePath(u"usr"_qs);
    QDir().mkpath(prefix + u"/libexec/tessarine"_qs);
    QDir().mkpath(prefix + u"/bin"_qs);
    const QString installed = prefix + u"/libexec/tessarine/tessarine"_qs;
    QFile(installed).open(QIODevice::WriteOnly);
    EXPECT_EQ(XdgAutostartLoginItem::launcherPath(installed), installed) << "no link yet";
    QFile::link(u"../libexec/tessarine/tessarine"_qs, prefix + u"/bin/tessarine"_qs);
    EXPECT_EQ(XdgAutostartLoginItem::launcherPath(installed), prefix + u"/bin/tessarine"_qs);
    EXPECT_EQ(XdgAutostartLoginItem::launcherPath(u"/work/build/release/tessarine"_qs),
              u"/work/build/release/tessarine"_qs);
}
