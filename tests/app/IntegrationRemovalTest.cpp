#include "app/IntegrationRemoval.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace

TEST(IntegrationRemovalTest, EveryIntegrationFileGoesAndTheLoopsAndForeignFilesStay) {
    QTemporaryDir root;
    const QString home = root.filePath(u"home"_qs);
    const IntegrationRemoval::Homes homes{
        .home = home,
        .configHome = home + u"/.config"_qs,
        .dataHome = home + u"/.local/share"_qs,
        .autostartEntry = home + u"/.config/autostart/tessarine.desktop"_qs,
        .gnomeExtensionFolder =
            home + u"/.local/share/gnome-shell/extensions/tessarine@kestrune.app"_qs,
    };
    const QString chromium = home + u"/.config/chromium/NativeMessagingHosts/"_qs;
    const QString firefox = home + u"/.mozilla/native-messaging-hosts/"_qs;
    write(chromium + u"app.kestrune.host.json"_qs);
    write(chromium + u"com.other.host.json"_qs);
    write(firefox + u"app.kestrune.host.json"_qs);
    write(homes.autostartEntry);
    write(homes.dataHome + u"/Kestrune/BrowserExtension/Tessarine Companion/manifest.json"_qs);
    write(homes.dataHome + u"/Kestrune/kestrune.db"_qs);
    // A user who linked the extension folder to a copy of their own keeps the copy.
    const QString own = root.filePath(u"own-extension"_qs);
    write(own + u"/metadata.json"_qs);
    QDir().mkpath(homes.dataHome + u"/gnome-shell/extensions"_qs);
    ASSERT_TRUE(QFile::link(own, homes.gnomeExtensionFolder));

    const IntegrationRemoval::Outcome outcome =
        IntegrationRemoval::remove(IntegrationRemoval::places(homes));
    EXPECT_EQ(outcome.failed, QStringList());
    EXPECT_EQ(outcome.removed.size(), 5) << outcome.removed.join(u'\n').toStdString();
    EXPECT_FALSE(QFile::exists(chromium + u"app.kestrune.host.json"_qs));
    EXPECT_FALSE(QFile::exists(firefox + u"app.kestrune.host.json"_qs));
    EXPECT_FALSE(QFile::exists(homes.autostartEntry));
    EXPECT_FALSE(QFileInfo::exists(homes.dataHome + u"/Kestrune/BrowserExtension"_qs));
    EXPECT_FALSE(QFileInfo(homes.gnomeExtensionFolder).isSymLink());
    EXPECT_TRUE(QFile::exists(own + u"/metadata.json"_qs)) << "only the link went";
    EXPECT_TRUE(QFile::exists(chromium + u"com.other.host.json"_qs));
    EXPECT_TRUE(QFile::exists(homes.dataHome + u"/Kestrune/kestrune.db"_qs)) << "loops are kept";

    // A second run finds nothing to do.
    const IntegrationRemoval::Outcome again =
        IntegrationRemoval::remove(IntegrationRemoval::places(homes));
    EXPECT_TRUE(again.removed.isEmpty());
    EXPECT_TRUE(again.failed.isEmpty());
}
