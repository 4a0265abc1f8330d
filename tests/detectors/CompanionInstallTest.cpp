#include "detectors/BrowserDetector.h"
#include "detectors/BrowserExtensionBundle.h"
#include "detectors/CompanionSetup.h"
#include "detectors/HostManifestInstaller.h"
#include "model/KnownBrowsers.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QJsonObject readJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void touch(const QString& path, const QByteArray& contents = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(contents);
}

QStringList filesBelow(const QString& root) {
    QStringList files;
    QDirIterator entries(root, QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext())
        files.append(QDir(root).relativeFilePath(entries.next()));
    files.sort();
    return files;
}

class HostManifestTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    QString config = home.filePath(u".config"_qs);
    QString host = home.filePath(u"libexec/kestrune-native-host"_qs);
    MemoryUserDefaults settings;

    HostManifestTest() {
        touch(host);
        QFile::setPermissions(host, QFile::ReadOwner | QFile::ExeOwner);
    }
    HostManifestInstaller installer() {
        return HostManifestInstaller(
            host, [this] { return HostManifestInstaller::extensionID(settings); },
            HostManifestInstaller::linuxFolders(config, home.path()));
    }
};

} // namespace

TEST_F(HostManifestTest, OnlyInstalledBrowsersGetAManifest) {
    QDir().mkpath(config + u"/google-chrome"_qs);
    QDir().mkpath(config + u"/BraveSoftware/Brave-Browser"_qs);
    QDir().mkpath(home.filePath(u".mozilla"_qs));
    settings.setString(u"settings.browserExtensionID"_qs,
                       u"  abcdefghijklmnopabcdefghijklmnop \n"_qs);
    EXPECT_EQ(installer().installAll(), 3);
    EXPECT_EQ(
        filesBelow(config),
        (QStringList{u"BraveSoftware"_qs, u"BraveSoftware/Brave-Browser"_qs,
                     u"BraveSoftware/Brave-Browser/NativeMessagingHosts"_qs,
                     u"BraveSoftware/Brave-Browser/NativeMessagingHosts/app.kestrune.host.json"_qs,
                     u"google-chrome"_qs, u"google-chrome/NativeMessagingHosts"_qs,
                     u"google-chrome/NativeMessagingHosts/app.kestrune.host.json"_qs}))
        << "no folder for browsers that are not there";

    const QJsonObject chrome =
        readJson(config + u"/google-chrome/NativeMessagingHosts/app.kestrune.host.json"_qs);
    EXPECT_EQ(chrome, (QJsonObject{
                          {u"name"_qs, u"app.kestrune.host"_qs},
                          {u"description"_qs, u"Tessarine native messaging host \u2014 relays "
                                              "AI-completion signals to the local app."_qs},
                          {u"path"_qs, host},
                          {u"type"_qs, u"stdio"_qs},
                          {u"allowed_origins"_qs,
                           QJsonArray{u"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"_qs}},
                      }))
        << "the id trimmed";
    const QJsonObject firefox =
        readJson(home.filePath(u".mozilla/native-messaging-hosts/app.kestrune.host.json"_qs));
    EXPECT_EQ(firefox.value(u"allowed_extensions"_qs).toArray(),
              QJsonArray{u"companion@tessarine.kestrune.app"_qs})
        << "Firefox knows the companion by its add-on id, whatever the Chromium id";
    EXPECT_FALSE(firefox.contains(u"allowed_origins"_qs));

    // Blank means the companion's own id; the file is replaced in place.
    settings.setString(u"settings.browserExtensionID"_qs, u" \n\t"_qs);
    installer().installAll();
    EXPECT_EQ(readJson(config + u"/google-chrome/NativeMessagingHosts/app.kestrune.host.json"_qs)
                  .value(u"allowed_origins"_qs)
                  .toArray(),
              QJsonArray{u"chrome-extension://"_qs + BrowserDetector::defaultExtensionID + u'/'});
}

TEST_F(HostManifestTest, OneBrowserTableDrivesManifestsAndTheBrowserSet) {
    // Vivaldi gets a manifest and its signals are taken: it is a browser like the others.
    QDir().mkpath(config + u"/vivaldi"_qs);
    // Sandboxed builds cannot start the host: their folders get nothing.
    QDir().mkpath(home.filePath(u".var/app/com.google.Chrome/config/google-chrome"_qs));
    QDir().mkpath(home.filePath(u".var/app/org.mozilla.firefox/.mozilla"_qs));
    // Snap's Firefox (with no ~/.mozilla of its own) reaches the host through the portal,
    // which reads the common folder.
    QDir().mkpath(home.filePath(u"snap/firefox/common/.mozilla"_qs));
    EXPECT_EQ(installer().installAll(), 2);
    EXPECT_TRUE(
        QFileInfo::exists(config + u"/vivaldi/NativeMessagingHosts/app.kestrune.host.json"_qs));
    EXPECT_EQ(readJson(home.filePath(u".mozilla/native-messaging-hosts/app.kestrune.host.json"_qs))
                  .value(u"allowed_extensions"_qs)
                  .toArray(),
              QJsonArray{BrowserDetector::firefoxAddonID});
    EXPECT_FALSE(QFileInfo::exists(
        home.filePath(u".var/app/com.google.Chrome/config/google-chrome/NativeMessagingHosts"_qs)));
    EXPECT_FALSE(QFileInfo::exists(
        home.filePath(u".var/app/org.mozilla.firefox/.mozilla/native-messaging-hosts"_qs)));
    EXPECT_FALSE(QFileInfo::exists(
        home.filePath(u"snap/firefox/common/.mozilla/native-messaging-hosts"_qs)));
    EXPECT_EQ(installer().installAll(), 2) << "the regular Firefox and the Snap share one manifest";

    for (const HostManifestInstaller::Folder& folder :
         HostManifestInstaller::linuxFolders(config, home.path())) {
        const bool sandboxed =
            folder.path.contains(u"/.var/app/"_qs) || folder.path.contains(u"/snap/"_qs);
        EXPECT_EQ(folder.usable, !sandboxed) << folder.path.toStdString();
    }
    for (const KnownBrowsers::Browser& browser : KnownBrowsers::all())
        EXPECT_TRUE(BrowserDetector::browserBundleIDs().contains(browser.identity))
            << browser.identity.toStdString();
    EXPECT_TRUE(BrowserDetector::browserBundleIDs().contains(u"com.vivaldi.Vivaldi"_qs));
}

TEST_F(HostManifestTest, NothingIsWrittenWithoutTheHostOrIntoAnUnwritableFolder) {
    QDir().mkpath(config + u"/chromium"_qs);
    QFile::remove(host);
    EXPECT_EQ(installer().installAll(), 0);
    EXPECT_FALSE(QFileInfo::exists(config + u"/chromium/NativeMessagingHosts"_qs));

    touch(host);
    QFile::setPermissions(host, QFile::ReadOwner | QFile::ExeOwner);
    touch(config + u"/vivaldi/NativeMessagingHosts"_qs); // a file where the folder should be
    EXPECT_EQ(installer().installAll(), 1) << "vivaldi fails, chromium still gets its manifest";
}

TEST(CompanionExtension, ItsKeyYieldsTheDefaultExtensionID) {
    const QJsonObject manifest =
        readJson(QStringLiteral(TESSARINE_SOURCE_DIR "/extension/manifest.json"));
    const QByteArray der = QByteArray::fromBase64(manifest.value(u"key"_qs).toString().toLatin1());
    const QByteArray digest = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex();
    QString id;
    for (const char hex : digest.left(32))
        id.append(QChar(u'a' + QByteArray(1, hex).toInt(nullptr, 16)));
    EXPECT_EQ(id, BrowserDetector::defaultExtensionID);
    EXPECT_EQ(manifest.value(u"manifest_version"_qs).toInt(), 3);
    for (const QString& file : BrowserExtensionBundle::requiredFiles())
        EXPECT_TRUE(QFileInfo::exists(QStringLiteral(TESSARINE_SOURCE_DIR "/extension/") + file))
            << file.toStdString();
}

TEST(CompanionExtension, TheFirefoxBuildIsTheSameCompanionUnderTheAddOnIDTheManifestAllows) {
    const QString firefox = QStringLiteral(TESSARINE_FIREFOX_COMPANION "/Firefox/");
    const QJsonObject manifest = readJson(firefox + u"manifest.json"_qs);
    const QJsonObject chromium =
        readJson(QStringLiteral(TESSARINE_SOURCE_DIR "/extension/manifest.json"));
    EXPECT_EQ(manifest[u"browser_specific_settings"_qs][u"gecko"_qs][u"id"_qs].toString(),
              BrowserDetector::firefoxAddonID);
    EXPECT_EQ(manifest[u"background"_qs].toObject(),
              (QJsonObject{{u"scripts"_qs, QJsonArray{u"background.js"_qs}}}))
        << "Firefox runs no extension service workers";
    EXPECT_FALSE(manifest.contains(u"key"_qs));
    for (const char* same :
         {"manifest_version", "name", "version", "permissions", "content_scripts", "options_ui"})
        EXPECT_EQ(manifest[QLatin1String(same)], chromium[QLatin1String(same)]) << same;
    for (const QString& file : BrowserExtensionBundle::requiredFiles())
        EXPECT_TRUE(QFileInfo::exists(firefox + file)) << file.toStdString();
    EXPECT_TRUE(
        QFileInfo(QStringLiteral(TESSARINE_FIREFOX_COMPANION "/tessarine-companion-firefox.xpi"))
            .size() > 0);
}

namespace {

class CompanionSetupTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString resources = root.filePath(u"share/tessarine"_qs);
    QString source = resources + u"/Chrome-Firefox"_qs;
    QString dataHome = root.filePath(u"data"_qs);
    QString installed = dataHome + u"/Kestrune/BrowserExtension/Tessarine Companion"_qs;
    MemoryUserDefaults settings;
    int manifestInstalls = 0;
    QStringList revealed;
    int pagesOpened = 0;
    std::optional<QString> browserFound = u"Chromium"_qs;
    std::optional<QString> firefoxFound;

    CompanionSetupTest() {
        for (const QString& file : BrowserExtensionBundle::requiredFiles())
            touch(source + u'/' + file, file.toUtf8());
        touch(resources + u"/tessarine-companion-firefox.xpi"_qs, "PK package");
    }
    QString prepare(std::optional<QString> resourcesDir) {
        CompanionSetup setup({resourcesDir, dataHome, settings, [this] { ++manifestInstalls; },
                              [this](const QString& path) { revealed.append(path); },
                              [this] {
                                  ++pagesOpened;
                                  return browserFound;
                              },
                              [this] { return firefoxFound; }});
        return setup.prepareBrowserExtension();
    }
};

} // namespace

TEST_F(CompanionSetupTest, PreparingTwiceLeavesOneFreshFolderAndTheDefaultID) {
    settings.setString(u"settings.browserExtensionID"_qs, u"someoneelse"_qs);
    touch(dataHome + u"/Kestrune/BrowserExtension/.Tessarine Companion.new/stale.js"_qs);
    EXPECT_EQ(prepare(resources),
              u"Ready in your file manager. In Chromium, turn on Developer mode, click Load "
              "unpacked, and choose \u201CTessarine Companion.\u201D"_qs)
        << "names the browser that was found";
    EXPECT_FALSE(settings.stringValue(u"settings.browserExtensionID"_qs));
    EXPECT_EQ(manifestInstalls, 1);
    EXPECT_EQ(revealed, QStringList{installed});
    EXPECT_EQ(pagesOpened, 1);

    touch(source + u"/background.js"_qs, "new contents");
    touch(installed + u"/leftover.js"_qs);
    browserFound.reset();
    EXPECT_TRUE(prepare(resources).contains(u"No Chromium-family browser was found"_qs));
    EXPECT_EQ(filesBelow(dataHome + u"/Kestrune/BrowserExtension"_qs).first(),
              u"Tessarine Companion"_qs)
        << "no staging folder left";
    EXPECT_FALSE(QFileInfo::exists(installed + u"/leftover.js"_qs));
    QFile background(installed + u"/background.js"_qs);
    ASSERT_TRUE(background.open(QIODevice::ReadOnly));
    EXPECT_EQ(background.readAll(), "new contents");
}

TEST_F(CompanionSetupTest, AMissingOrIncompleteCompanionIsReportedAndNothingCopied) {
    settings.setString(u"settings.browserExtensionID"_qs, u"someoneelse"_qs);
    EXPECT_EQ(prepare(std::nullopt),
              u"The bundled companion is missing. Reinstall Tessarine and try again."_qs);
    QFile::remove(source + u"/options.js"_qs);
    EXPECT_EQ(prepare(resources),
              u"Couldn't prepare the companion. Reinstall Tessarine and try again."_qs);
    EXPECT_FALSE(QFileInfo::exists(dataHome + u"/Kestrune"_qs)) << "nothing copied";
    EXPECT_TRUE(settings.stringValue(u"settings.browserExtensionID"_qs)) << "kept on failure";
    EXPECT_EQ(manifestInstalls + pagesOpened + revealed.size(), 0);
    try {
        BrowserExtensionBundle::install(root.filePath(u"nowhere"_qs), dataHome);
        ADD_FAILURE() << "installed from nowhere";
    } catch (const BrowserExtensionBundle::InstallError& error) {
        EXPECT_EQ(error.kind, BrowserExtensionBundle::InstallError::Kind::MissingSource);
    }
}

TEST_F(CompanionSetupTest, FirefoxGetsThePackageAndHonestWordsAboutSigning) {
    const QString package =
        dataHome + u"/Kestrune/BrowserExtension/tessarine-companion-firefox.xpi"_qs;
    EXPECT_FALSE(prepare(resources).contains(u"Firefox"_qs)) << "no Firefox, no Firefox words";
    EXPECT_FALSE(QFileInfo::exists(package));

    firefoxFound = u"Firefox ESR"_qs;
    browserFound.reset();
    touch(package, "an older package");
    const QString alone = prepare(resources);
    EXPECT_TRUE(alone.startsWith(u"Ready in your file manager. In Firefox ESR, open about:addons, "
                                 "choose Install Add-on From File, and pick "
                                 "\u201Ctessarine-companion-firefox.xpi.\u201D"_qs))
        << alone.toStdString();
    for (const QString& caveat : {u"xpinstall.signatures.required is false"_qs,
                                  u"temporary add-on from about:debugging"_qs})
        EXPECT_TRUE(alone.contains(caveat)) << caveat.toStdString();
    EXPECT_FALSE(alone.contains(u"Developer mode"_qs)) << "no Chromium-family browser to name";
    EXPECT_EQ(revealed.last(), package) << "the file Firefox wants is the one shown";
    QFile copied(package);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), "PK package");

    browserFound = u"Chromium"_qs;
    const QString both = prepare(resources);
    EXPECT_TRUE(both.contains(u"In Chromium, turn on Developer mode"_qs)) << both.toStdString();
    EXPECT_TRUE(both.contains(u"In Firefox ESR, open about:addons"_qs)) << both.toStdString();
    EXPECT_EQ(revealed.last(), installed);

    // A Firefox package missing from the installation is a broken installation.
    QFile::remove(resources + u"/tessarine-companion-firefox.xpi"_qs);
    EXPECT_EQ(prepare(resources),
              u"Couldn't prepare the companion. Reinstall Tessarine and try again."_qs);
    EXPECT_TRUE(QFileInfo::exists(package)) << "the earlier copy stays";
    EXPECT_EQ(filesBelow(dataHome + u"/Kestrune/BrowserExtension"_qs).filter(u".new"_qs),
              QStringList());
}
