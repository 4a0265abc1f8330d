#include "platform/linux/GnomeShellExtension.h"
#include "platform/GlobalHotkey.h"
#include "platform/linux/DesktopSession.h"
#include "platform/linux/GnomeKeybinding.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The shipped builds, each marked with its name.
void ship(const QTemporaryDir& folder) {
    for (const char* variant : {"legacy", "module"}) {
        const QString path =
            folder.filePath(QLatin1String(variant) + u"/tessarine@kestrune.app"_qs);
        QDir().mkpath(path);
        for (const char* name : {"extension.js", "metadata.json"}) {
            QFile file(path + u'/' + QLatin1String(name));
            file.open(QIODevice::WriteOnly);
            file.write(variant);
        }
    }
}

QByteArray contents(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

TEST(GnomeShellExtensionTest, InstallsTheBuildForTheRunningShellAndAddsItToTheEnabledOnes) {
    QTemporaryDir shipped;
    QTemporaryDir data;
    ship(shipped);
    QStringList calls;
    QString enabled = u"['other@example.org']"_qs;
    GnomeShellExtension extension(shipped.path(), data.path(), [&](const QStringList& arguments) {
        calls.append(arguments.join(u' '));
        if (arguments.value(0) == u"set")
            enabled = arguments.value(3);
        return std::optional<QString>(enabled + u'\n');
    });
    EXPECT_TRUE(extension.install(43).startsWith(u"Installed. Log out and back in"_qs));
    EXPECT_EQ(contents(extension.installedFolder() + u"/extension.js"_qs), "legacy");
    EXPECT_EQ(enabled, u"['other@example.org', 'tessarine@kestrune.app']"_qs)
        << "the user's other extensions stay on";

    // GNOME 45 and later load only the module build; installing again changes nothing else.
    extension.install(47);
    EXPECT_EQ(contents(extension.installedFolder() + u"/metadata.json"_qs), "module");
    EXPECT_EQ(enabled, u"['other@example.org', 'tessarine@kestrune.app']"_qs);

    EXPECT_TRUE(extension.install(3).contains(u"too old"_qs));
    GnomeShellExtension nothingShipped(std::nullopt, data.path(),
                                       [](const QStringList&) { return std::nullopt; });
    EXPECT_TRUE(nothingShipped.install(43).contains(u"Reinstall Tessarine"_qs));
    GnomeShellExtension noGsettings(shipped.path(), data.path(),
                                    [](const QStringList&) { return std::nullopt; });
    EXPECT_TRUE(noGsettings.install(43).contains(u"could not be turned on"_qs))
        << "never reported as done when it is not";
}

TEST(GnomeShellExtensionTest, EnabledListsAsGsettingsPrintsThem) {
    EXPECT_EQ(GnomeShellExtension::withItem(u"@as []\n"_qs, u"a@b"_qs), u"['a@b']"_qs);
    EXPECT_EQ(GnomeShellExtension::withItem(u"['a@b']"_qs, u"a@b"_qs), u"['a@b']"_qs);
    EXPECT_EQ(GnomeShellExtension::withItem(u"['x@y', 'a@b']"_qs, u"c@d"_qs),
              u"['x@y', 'a@b', 'c@d']"_qs);
    EXPECT_FALSE(GnomeShellExtension::withItem(u"No such key"_qs, u"a@b"_qs))
        << "never written over with a guess";
}

TEST(DesktopSessionTest, TheSessionsOwnVariablesChooseTheBackend) {
    const auto detect = [](std::initializer_list<std::pair<const char*, const char*>> values) {
        QProcessEnvironment environment;
        for (const auto& [name, value] : values)
            environment.insert(QLatin1String(name), QLatin1String(value));
        return DesktopSession::detect(environment);
    };
    using Kind = DesktopSession::Kind;
    EXPECT_EQ(detect({{"DISPLAY", ":0"}}), Kind::X11);
    EXPECT_EQ(detect({{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}), Kind::X11)
        << "a nested compositor inside an X11 session";
    EXPECT_EQ(detect({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}), Kind::Wlroots);
    EXPECT_EQ(detect({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}}),
              Kind::GnomeShell);
    EXPECT_EQ(detect({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}}),
              Kind::KWin);
    EXPECT_EQ(detect({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "Hyprland"}}),
              Kind::Wlroots);
    EXPECT_EQ(detect({{"XDG_SESSION_TYPE", "x11"}, {"KESTRUNE_WORKSPACE", "kwin"}}), Kind::KWin);
}

TEST(GnomeKeybindingTest, TheShortcutBecomesACustomShortcutOfGnomeKeepingTheUsersOwn) {
    QMap<QString, QString> values{
        {u"org.gnome.settings-daemon.plugins.media-keys custom-keybindings"_qs,
         u"['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/']"_qs}};
    GnomeKeybinding keybinding([&](const QStringList& arguments) -> std::optional<QString> {
        const QString key = arguments.value(1) + u' ' + arguments.value(2);
        if (arguments.value(0) == u"set")
            values.insert(key, arguments.value(3));
        return values.value(key) + u'\n';
    });
    const QString said = keybinding.bind(37, GlobalHotkey::kOption | GlobalHotkey::kCommand,
                                         u"'/opt/my apps/tessarine' toggle"_qs);
    EXPECT_TRUE(said.startsWith(u"Added: Alt+Super+L"_qs)) << said.toStdString();
    const QString binding = u"org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:"_qs +
                            GnomeKeybinding::path;
    EXPECT_EQ(values.value(binding + u" binding"_qs), u"'<Alt><Super>l'"_qs);
    EXPECT_EQ(values.value(binding + u" command"_qs), u"'\\'/opt/my apps/tessarine\\' toggle'"_qs);
    EXPECT_EQ(values.value(u"org.gnome.settings-daemon.plugins.media-keys custom-keybindings"_qs),
              u"['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/', "
              "'/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/tessarine/']"_qs);

    EXPECT_TRUE(keybinding.bind(122, GlobalHotkey::kOption, u"x"_qs).contains(u"cannot bind"_qs));
    GnomeKeybinding broken([](const QStringList&) { return std::nullopt; });
    EXPECT_TRUE(
        broken.bind(37, GlobalHotkey::kOption, u"x"_qs).contains(u"could not be changed"_qs))
        << "never reported as done when it is not";
}
