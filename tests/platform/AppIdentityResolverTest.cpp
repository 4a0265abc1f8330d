#include "platform/linux/AppIdentityResolver.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class AppIdentityResolverTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    QTemporaryDir system;

    void desktopFile(const QTemporaryDir& root, const QString& relative,
                     const QByteArray& contents) {
        const QString path = root.filePath(u"applications/"_qs + relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    AppIdentityResolver resolver() {
        return AppIdentityResolver(
            {home.filePath(u"applications"_qs), system.filePath(u"applications"_qs)});
    }
    void SetUp() override {
        desktopFile(system, u"org.gnome.Terminal.desktop"_qs,
                    "[Desktop Entry]\nName=Terminal\nExec=gnome-terminal\n"
                    "[Desktop Action new-window]\nName=New Window\n");
        desktopFile(system, u"google-chrome.desktop"_qs,
                    "[Desktop Entry]\nName=Google Chrome\nStartupWMClass=Google-chrome\n");
        desktopFile(system, u"code.desktop"_qs, "[Desktop Entry]\nName=Visual Studio Code\n");
        desktopFile(system, u"kde/org.kde.kate.desktop"_qs, "[Desktop Entry]\nName=Kate\n");
        desktopFile(system, u"notes.desktop"_qs, "[Desktop Entry]\nName=System Notes\n");
        desktopFile(home, u"notes.desktop"_qs, "[Desktop Entry]\nName=My Notes\n");
    }
};

} // namespace

TEST_F(AppIdentityResolverTest, GtkIdsAndWindowClassesFindTheirDesktopEntries) {
    const auto terminal = resolver().resolve(
        {u"org.gnome.Terminal"_qs, {}, u"gnome-terminal-server"_qs, u"Gnome-terminal"_qs, {}});
    EXPECT_EQ(terminal.desktopID, u"org.gnome.Terminal"_qs);
    EXPECT_EQ(terminal.displayName, u"Terminal"_qs) << "not the name of a desktop action";
    EXPECT_EQ(terminal.bundleID, u"org.gnome.Terminal"_qs) << "an identity of its own";

    const auto chrome = resolver().resolve({{}, {}, u"google-chrome"_qs, u"Google-chrome"_qs, {}});
    EXPECT_EQ(chrome.desktopID, u"google-chrome"_qs);
    EXPECT_EQ(chrome.displayName, u"Google Chrome"_qs);
    EXPECT_EQ(chrome.bundleID, u"com.google.Chrome"_qs);

    const auto code = resolver().resolve({{}, {}, u"code"_qs, u"Code"_qs, {}});
    EXPECT_EQ(code.bundleID, u"com.microsoft.VSCode"_qs);
    EXPECT_EQ(code.displayName, u"Visual Studio Code"_qs);

    const auto kate = resolver().resolve({{}, {}, u"kate"_qs, u"kate"_qs, {}});
    EXPECT_EQ(kate.desktopID, u"kde-org.kde.kate"_qs) << "subfolders become id prefixes";
    EXPECT_EQ(kate.displayName, u"Kate"_qs);

    EXPECT_EQ(resolver().resolve({{}, {}, u"notes"_qs, u"Notes"_qs, {}}).displayName,
              u"My Notes"_qs)
        << "the user's own entry wins";
}

TEST_F(AppIdentityResolverTest, CgroupsNameFlatpakAndSystemdLaunchedApplications) {
    const QString flatpak = u"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                            "app-flatpak-org.mozilla.firefox-12345.scope\n"_qs;
    const auto firefox = resolver().resolve({{}, flatpak, u"Navigator"_qs, u"firefox"_qs, {}});
    EXPECT_EQ(firefox.desktopID, u"org.mozilla.firefox"_qs);
    EXPECT_EQ(firefox.bundleID, u"org.mozilla.firefox"_qs);

    const QString gnome = u"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                          "app-gnome-code-4242.scope\n"_qs;
    EXPECT_EQ(resolver().resolve({{}, gnome, {}, {}, {}}).bundleID, u"com.microsoft.VSCode"_qs);

    const QString service = u"0::/user.slice/user@1000.service/app.slice/"
                            "app-org.gnome.Terminal@a1b2.service\n"_qs;
    EXPECT_EQ(resolver().resolve({{}, service, {}, {}, {}}).desktopID, u"org.gnome.Terminal"_qs);

    bool certain = false;
    EXPECT_EQ(AppIdentityResolver::desktopIDsFromCgroup(
                  u"0::/app.slice/app-kde-org.kde.kate\\x2dnightly-99.scope"_qs, &certain),
              (QStringList{u"kde-org.kde.kate-nightly"_qs, u"org.kde.kate-nightly"_qs}));
    EXPECT_FALSE(certain);
    EXPECT_EQ(AppIdentityResolver::desktopIDsFromCgroup(u"0::/snap.firefox.firefox.abcd.scope"_qs),
              QStringList{u"firefox_firefox"_qs});
    // An unknown scope falls through to the window class.
    const QString unknown = u"0::/user.slice/session-2.scope\n"_qs;
    EXPECT_EQ(resolver().resolve({{}, unknown, u"code"_qs, u"Code"_qs, {}}).desktopID, u"code"_qs);
}

TEST_F(AppIdentityResolverTest, UnknownApplicationsKeepTheirOwnNames) {
    const auto custom = resolver().resolve({{}, {}, u"mytool"_qs, u"MyTool"_qs, {}});
    EXPECT_EQ(custom.bundleID, u"MyTool"_qs);
    EXPECT_EQ(custom.displayName, u"MyTool"_qs);
    EXPECT_EQ(resolver().resolve({}).bundleID, std::nullopt);
    EXPECT_EQ(AppIdentityResolver::alias(u"KITTY"_qs), u"net.kovidgoyal.kitty"_qs);
    EXPECT_EQ(AppIdentityResolver::alias(u"org.example.Unknown"_qs), std::nullopt);
}

TEST_F(AppIdentityResolverTest, DifferentProgramsNeverShareAnIdentity) {
    desktopFile(system, u"debian-xterm.desktop"_qs, "[Desktop Entry]\nName=XTerm\n");
    desktopFile(system, u"org.kde.konsole.desktop"_qs, "[Desktop Entry]\nName=Konsole\n");
    desktopFile(system, u"thunderbird.desktop"_qs, "[Desktop Entry]\nName=Thunderbird\n");
    desktopFile(system, u"org.gnome.Evolution.desktop"_qs, "[Desktop Entry]\nName=Evolution\n");
    desktopFile(system, u"vivaldi-stable.desktop"_qs,
                "[Desktop Entry]\nName=Vivaldi\nStartupWMClass=Vivaldi-stable\n");
    const auto identity = [&](const char* instance, const char* name) {
        return resolver()
            .resolve({{}, {}, QString::fromLatin1(instance), QString::fromLatin1(name), {}})
            .bundleID.value_or(QString());
    };
    const QStringList terminals = {identity("xterm", "XTerm"), identity("konsole", "konsole"),
                                   identity("gnome-terminal-server", "Gnome-terminal")};
    EXPECT_EQ(QSet<QString>(terminals.begin(), terminals.end()).size(), 3)
        << terminals.join(u' ').toStdString();
    EXPECT_EQ(identity("konsole", "konsole"), u"org.kde.konsole"_qs);
    EXPECT_NE(identity("Mail", "thunderbird"), identity("evolution", "Evolution"));
    EXPECT_EQ(identity("Mail", "thunderbird"), u"thunderbird"_qs);

    // The same program under another name keeps one identity, whatever package it came from.
    EXPECT_EQ(identity("vivaldi-stable", "Vivaldi-stable"), u"com.vivaldi.Vivaldi"_qs);
    EXPECT_EQ(AppIdentityResolver::alias(u"com.brave.Browser"_qs), u"com.brave.Browser"_qs);
    EXPECT_EQ(AppIdentityResolver::alias(u"chromium_chromium"_qs), u"org.chromium.Chromium"_qs);
    EXPECT_EQ(AppIdentityResolver::alias(u"firefox-esr"_qs), u"org.mozilla.firefox"_qs);
    EXPECT_EQ(AppIdentityResolver::alias(u"org.gnome.Terminal"_qs), std::nullopt);
    EXPECT_EQ(AppIdentityResolver::alias(u"thunderbird"_qs), std::nullopt);

    // And back: the installed entry of an identity, for launching it or showing its icon.
    EXPECT_EQ(resolver().desktopEntry(u"com.vivaldi.Vivaldi"_qs)->id, u"vivaldi-stable"_qs);
    EXPECT_EQ(resolver().desktopEntry(u"com.google.Chrome"_qs)->id, u"google-chrome"_qs);
    EXPECT_EQ(resolver().desktopEntry(u"XTerm"_qs)->id, u"debian-xterm"_qs);
    EXPECT_EQ(resolver().desktopEntry(u"org.kde.konsole"_qs)->name, u"Konsole"_qs);
    EXPECT_TRUE(resolver()
                    .desktopEntry(u"org.kde.konsole"_qs)
                    ->path.endsWith(u"applications/org.kde.konsole.desktop"_qs));
    EXPECT_EQ(resolver().desktopEntry(u"org.example.Missing"_qs), std::nullopt);
}

TEST_F(AppIdentityResolverTest, AWaylandAppIdAndTheSameProgramsXWaylandClassAreOneIdentity) {
    AppIdentityResolver::Clues wayland;
    wayland.waylandAppID = u"google-chrome"_qs;
    const auto native = resolver().resolve(wayland);
    const auto legacy = resolver().resolve({{}, {}, u"google-chrome"_qs, u"Google-chrome"_qs, {}});
    EXPECT_EQ(native.bundleID, u"com.google.Chrome"_qs);
    EXPECT_EQ(native.bundleID, legacy.bundleID);
    EXPECT_EQ(native.displayName, u"Google Chrome"_qs);

    wayland.waylandAppID = u"org.gnome.Terminal"_qs;
    EXPECT_EQ(resolver().resolve(wayland).displayName, u"Terminal"_qs);

    wayland.waylandAppID = u"foot"_qs;
    const auto unknown = resolver().resolve(wayland);
    EXPECT_EQ(unknown.bundleID, u"foot"_qs) << "an unknown application keeps its own id";
    EXPECT_EQ(unknown.displayName, u"foot"_qs);
}
