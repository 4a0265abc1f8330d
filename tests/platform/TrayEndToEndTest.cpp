// The tray icon through a StatusNotifier host, whether the host is there before Tessarine or
// starts after it.
#include "EngineHarness.h"
#include "Wait.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

using namespace EngineHarness;

namespace {

class TrayHost {
public:
    TrayHost() {
        m_process.start(QStringLiteral(TESSARINE_TEST_TRAY_HOST));
        m_process.waitForReadyRead(5000);
        m_output += m_process.readAll();
    }
    ~TrayHost() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool ready() const { return m_output.contains("ready"); }
    // The first registered item's service, once one registers.
    QString item() {
        m_process.waitForReadyRead(50);
        m_output += m_process.readAll();
        const qsizetype at = m_output.indexOf("item ");
        if (at < 0)
            return {};
        const QByteArray rest = m_output.mid(at + 5);
        return QString::fromUtf8(rest.left(rest.indexOf(' ')));
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

QVariant property(const QString& service, const char* name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, u"/StatusNotifierItem"_qs, u"org.freedesktop.DBus.Properties"_qs, u"Get"_qs);
    get << u"org.kde.StatusNotifierItem"_qs << QString::fromLatin1(name);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    return reply.arguments().isEmpty()
               ? QVariant()
               : reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// The text of the item's tooltip: (icon name, pixmaps, title, description).
QString toolTipTitle(const QString& service) {
    const QDBusArgument argument = property(service, "ToolTip").value<QDBusArgument>();
    QString icon;
    QString title;
    argument.beginStructure();
    argument >> icon;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> width >> height >> bytes;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title;
    return title;
}

} // namespace

TEST(TrayEndToEndTest, TheIconAppearsWithItsCountAndAClickOpensTheDropdown) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    EXPECT_TRUE(engine.waitForLog("No system tray is running")) << engine.log();

    // The panel starts after Tessarine: the icon still registers.
    TrayHost host;
    ASSERT_TRUE(host.ready());
    QString item;
    ASSERT_TRUE(engine.waitUntil([&] { return !(item = host.item()).isEmpty(); })) << engine.log();
    EXPECT_EQ(toolTipTitle(item), u"Tessarine"_qs);

    QProcess notes;
    QProcess report;
    const QString reportWindow = startWindow(report, u"TrayReport"_qs, u"Report"_qs);
    const QString notesWindow = startWindow(notes, u"TrayNotes"_qs, u"Notes"_qs);
    ASSERT_TRUE(engine.activate(reportWindow, u"TrayReport"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(notesWindow, u"TrayNotes"_qs)) << engine.log();
    QByteArray said;
    runClient(engine.environment(), {u"loops"_qs, u"--json"_qs}, &said);
    const QString id = QString::fromUtf8(said.mid(said.indexOf("\"id\":\"") + 6, 36));
    ASSERT_EQ(runClient(engine.environment(), {u"pin"_qs, id}, &said), 0) << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return toolTipTitle(item) == u"Tessarine — 1 open"_qs; }))
        << toolTipTitle(item).toStdString();

    ASSERT_EQ(runClient(engine.environment(), {u"pause"_qs}, &said), 0);
    EXPECT_TRUE(waitFor([&] { return toolTipTitle(item) == u"Tessarine is paused"_qs; }));
    runClient(engine.environment(), {u"resume"_qs}, &said);

    // A click on the icon (the host's Activate) opens the dropdown; another closes it.
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(item, u"/StatusNotifierItem"_qs,
                                       u"org.kde.StatusNotifierItem"_qs, u"Activate"_qs)
        << 0 << 0);
    EXPECT_TRUE(waitFor([] { return !shownWindow(u"^Tessarine$"_qs).isEmpty(); })) << engine.log();
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(item, u"/StatusNotifierItem"_qs,
                                       u"org.kde.StatusNotifierItem"_qs, u"Activate"_qs)
        << 0 << 0);
    EXPECT_TRUE(waitFor([] { return shownWindow(u"^Tessarine$"_qs).isEmpty(); }));

    EXPECT_TRUE(engine.stop()) << engine.log();
    notes.closeWriteChannel();
    report.closeWriteChannel();
    notes.waitForFinished(5000);
    report.waitForFinished(5000);
}
