// Needs the private session bus of scripts/test-env.sh.
#include "platform/linux/LinuxDesktopServices.h"
#include "platform/linux/X11Workspace.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Plays the file manager on the session bus.
class FileManagerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString& startupId) {
        Q_UNUSED(startupId);
        shown += uris;
    }
};

// Plays a D-Bus activatable application.
class ApplicationStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    QStringList opened;
    int activations = 0;
public Q_SLOTS:
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap&) { opened += uris; }
    Q_SCRIPTABLE void Activate(const QVariantMap&) { ++activations; }
};

} // namespace

TEST(LinuxDesktopServices, ADBusActivatableApplicationIsStartedOverTheBus) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(u"applications"_qs));
    QFile entry(dir.filePath(u"applications/org.example.Viewer-Two.desktop"_qs));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nName=Viewer\nDBusActivatable=true\nExec=/nonexistent/viewer %U\n");
    entry.close();
    X11Workspace workspace(0, AppIdentityResolver({dir.filePath(u"applications"_qs)}));
    EXPECT_FALSE(workspace.launchApplication(u"org.example.Viewer-Two"_qs, std::nullopt))
        << "not on the bus, and its Exec line names no program";

    QDBusConnection bus = QDBusConnection::sessionBus();
    ApplicationStandIn viewer;
    ASSERT_TRUE(bus.registerObject(u"/org/example/Viewer_Two"_qs, &viewer,
                                   QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService(u"org.example.Viewer-Two"_qs));
    EXPECT_TRUE(
        workspace.launchApplication(u"org.example.Viewer-Two"_qs, u"https://a.example/"_qs));
    EXPECT_TRUE(workspace.launchApplication(u"org.example.Viewer-Two"_qs, std::nullopt));
    EXPECT_TRUE(waitFor([&] { return viewer.activations == 1; }));
    EXPECT_EQ(viewer.opened, QStringList{u"https://a.example/"_qs});
    bus.unregisterService(u"org.example.Viewer-Two"_qs);
    bus.unregisterObject(u"/org/example/Viewer_Two"_qs);
}

TEST(LinuxDesktopServices, TheFolderIsShownThroughTheFileManagerOnTheBus) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QDBusConnection bus = QDBusConnection::sessionBus();
    FileManagerStandIn fileManager;
    ASSERT_TRUE(bus.registerObject(u"/org/freedesktop/FileManager1"_qs, &fileManager,
                                   QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService(u"org.freedesktop.FileManager1"_qs));

    LinuxDesktopServices().revealInFileViewer(u"/tmp/Kestrune/Tessarine Companion"_qs);
    QElapsedTimer waited;
    waited.start();
    while (fileManager.shown.isEmpty() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(fileManager.shown, QStringList{u"file:///tmp/Kestrune/Tessarine%20Companion"_qs});
    bus.unregisterService(u"org.freedesktop.FileManager1"_qs);

    EXPECT_TRUE(LinuxDesktopServices::installedChromiumBrowser()) << "chromium is installed";
}

#include "LinuxDesktopServicesTest.moc"
