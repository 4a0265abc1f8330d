// Needs the private session bus of scripts/test-env.sh.
#include "platform/linux/LinuxDesktopServices.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
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

} // namespace

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
