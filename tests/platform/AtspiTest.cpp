// Runs inside scripts/test-env.sh: a real Qt Quick application on the accessibility bus,
// read and pressed through AT-SPI.
#include "AccessibleChromium.h"
#include "Wait.h"
#include "platform/linux/A11yBusSwitch.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiControls.h"
#include "platform/linux/AtspiReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// tessarine-test-chat, driven through its standard input.
class TestChat {
public:
    TestChat() {
        m_process.start(QStringLiteral(TESSARINE_TEST_CHAT));
        m_process.waitForReadyRead(10000);
        ready = m_process.readLine().startsWith("ready");
    }
    ~TestChat() {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    void send(const char* command) {
        m_process.write(QByteArray(command) + '\n');
        waitFor([&] {
            m_said += m_process.readAll();
            return m_said.contains("done\n");
        });
        m_said.replace("done\n", "");
    }
    QByteArray said() {
        m_said += m_process.readAll();
        return m_said;
    }
    qint64 pid() const { return m_process.processId(); }
    bool ready = false;

private:
    QProcess m_process;
    QByteArray m_said;
};

} // namespace

TEST(AtspiTest, ButtonsComposerWindowsAndEventsOfARealApplication) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    TestChat chat;
    ASSERT_TRUE(chat.ready);
    AtspiBus bus;
    ASSERT_TRUE(bus.isConnected());
    AtspiControls controls(bus);
    // The application registers on the accessibility bus shortly after it shows.
    ASSERT_TRUE(waitFor([&] { return controls.read(chat.pid()).found; }, 10000));

    AtspiControls::Reading idle = controls.read(chat.pid());
    EXPECT_FALSE(idle.labels.contains(u"Stop generating"_qs));
    ASSERT_FALSE(idle.fields.isEmpty()) << "the composer";
    EXPECT_EQ(idle.fields.constFirst().value, u"Summarise the quarterly report"_qs);
    EXPECT_TRUE(idle.fields.constFirst().editable);

    chat.send("generating on");
    EXPECT_TRUE(
        waitFor([&] { return controls.read(chat.pid()).labels.contains(u"Stop generating"_qs); }));

    AtspiAccessibility accessibility(bus, [] { return true; });
    const AXElement application = AXElement::application(chat.pid());
    const QList<AXElement> windows = accessibility.elements(application, u"AXWindows"_qs);
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(accessibility.text(windows.constFirst(), u"AXRole"_qs), u"AXWindow"_qs);
    EXPECT_EQ(accessibility.text(windows.constFirst(), u"AXTitle"_qs), u"Test Chat"_qs);

    // The button going away is an event of the application.
    int events = 0;
    const auto observer = accessibility.createObserver(
        chat.pid(), [&](const AXElement&, const QString&) { ++events; });
    ASSERT_TRUE(observer);
    EXPECT_TRUE(observer->addNotification(application, u"AXCreated"_qs));
    EXPECT_TRUE(observer->addNotification(application, u"AXUIElementDestroyed"_qs));
    EXPECT_TRUE(observer->addNotification(application, u"AXValueChanged"_qs));
    EXPECT_FALSE(observer->addNotification(application, u"AXNoSuchThing"_qs));
    // The application hears of a new listener from the registry a moment later, so the
    // button goes (and comes back) until the first event arrives.
    for (int attempt = 0; attempt < 10 && events == 0; ++attempt) {
        chat.send("generating off");
        if (waitFor([&] { return events > 0; }, 500))
            break;
        chat.send("generating on");
    }
    EXPECT_GT(events, 0);
    chat.send("generating off");
    EXPECT_TRUE(
        waitFor([&] { return !controls.read(chat.pid()).labels.contains(u"Stop generating"_qs); }));

    // Pressing a button as a screen reader would.
    chat.send("ask on");
    QList<AtspiControls::Button> buttons;
    ASSERT_TRUE(waitFor([&] {
        buttons = controls.buttons(chat.pid());
        return buttons.size() >= 3;
    }));
    QStringList labels;
    for (const AtspiControls::Button& button : buttons)
        labels.append(button.label);
    EXPECT_EQ(labels, (QStringList{u"Allow once"_qs, u"Always allow"_qs, u"Deny"_qs}))
        << "in the order they stand";
    const AXElement allow =
        AXElement::remote(chat.pid(), buttons[0].element.service, buttons[0].element.path);
    EXPECT_EQ(accessibility.text(allow, u"AXRole"_qs), u"AXButton"_qs);
    EXPECT_TRUE(accessibility.performAction(allow, u"AXPress"_qs));
    EXPECT_TRUE(waitFor([&] { return chat.said().contains("pressed Allow once\n"); }));

    AtspiAccessibility untrusted(bus, [] { return false; });
    EXPECT_FALSE(untrusted.performAction(allow, u"AXPress"_qs)) << "only with the switch on";
    EXPECT_FALSE(untrusted.attribute(application, u"AXWindows"_qs));
}

TEST(AtspiTest, AnApplicationThatStopsAnsweringIsLeftAloneNotWaitedFor) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    TestChat chat;
    ASSERT_TRUE(chat.ready);
    auto now = std::chrono::steady_clock::now();
    AtspiBus bus([&] { return now; });
    AtspiControls controls(bus);
    ASSERT_TRUE(waitFor([&] { return controls.read(chat.pid()).found; }, 10000));
    const QString service = *bus.applicationOf(chat.pid());

    ::kill(static_cast<pid_t>(chat.pid()), SIGSTOP);
    const AtspiControls::Reading stalled = controls.read(chat.pid());
    EXPECT_TRUE(stalled.labels.isEmpty());
    EXPECT_TRUE(bus.isSkipped(service)) << "a call ran out";
    const qint64 sent = bus.callsSent();
    controls.read(chat.pid());
    AtspiAccessibility(bus, [] {
        return true;
    }).performAction(AXElement::remote(chat.pid(), service, AtspiBus::rootPath), u"AXPress"_qs);
    // The application lookup still asks the bus daemon; nothing goes to the stopped process.
    EXPECT_LE(bus.callsSent() - sent, 2) << "no call into the stopped application";

    ::kill(static_cast<pid_t>(chat.pid()), SIGCONT);
    EXPECT_TRUE(bus.isSkipped(service)) << "for a while";
    now += AtspiBus::kSkipFor + std::chrono::seconds(1);
    EXPECT_FALSE(bus.isSkipped(service));
    EXPECT_TRUE(waitFor([&] { return controls.read(chat.pid()).fields.size() == 1; }))
        << "read again once the while is over";
}

TEST(AtspiTest, ReadingsOffTheMainThreadComeBackOnItInTheOrderAsked) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    TestChat chat;
    ASSERT_TRUE(chat.ready);
    AtspiReader reader;
    QList<int> delivered;
    bool onMainThread = true;
    ASSERT_TRUE(waitFor(
        [&] {
            bool found = false;
            bool done = false;
            reader.read(chat.pid(), [&](const AtspiControls::Reading& reading) {
                found = reading.found;
                done = true;
            });
            waitFor([&] { return done; });
            return found;
        },
        10000));
    chat.send("generating on");
    for (int i = 0; i < 3; ++i)
        reader.read(chat.pid(), [&, i](const AtspiControls::Reading& reading) {
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            if (reading.labels.contains(u"Stop generating"_qs))
                delivered.append(i);
        });
    ASSERT_TRUE(waitFor([&] { return delivered.size() == 3; }));
    EXPECT_EQ(delivered, (QList<int>{0, 1, 2}));
    EXPECT_TRUE(onMainThread);
}

TEST(AtspiTest, ChromiumsOwnSearchFindsWhatTheWalkFindsWithFarFewerCalls) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    ASSERT_TRUE(A11yBusSwitch().enable()) << "the desktop's accessibility switch";
    QTemporaryDir folder;
    QFile page(folder.filePath(u"chat.html"_qs));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    QByteArray answers;
    for (int i = 0; i < 40; ++i)
        answers += "<div><p>Answer " + QByteArray::number(i) +
                   "</p><button>Copy</button><button aria-label='Retry answer'>R</button></div>";
    page.write("<!doctype html><html><head><title>Search check</title></head><body><main>" +
               answers +
               "<div hidden><button>Hidden action</button></div>"
               "<section><div><div><div><button title='Deep action'></button></div></div></div>"
               "</section><textarea>Draft of the next question</textarea>"
               "<input value='single line'><button>Stop generating</button></main></body></html>");
    page.close();
    AccessibleChromium chromium(folder.filePath(u"profile"_qs),
                                QUrl::fromLocalFile(page.fileName()).toString());

    AtspiBus walkBus;
    AtspiControls walk(walkBus, AtspiControls::Search::Walk);
    AtspiBus searchBus;
    AtspiControls search(searchBus);
    // Read as the chat detector reads: the first reading walks (it wakes the page's tree
    // up), the later ones search.
    ASSERT_TRUE(waitFor(
        [&] { return search.read(chromium.pid()).labels.contains(u"Stop generating"_qs); }, 30000))
        << "the page's controls on the bus";
    const qint64 before = searchBus.callsSent();
    const AtspiControls::Reading searched = search.read(chromium.pid());
    const qint64 searchCalls = searchBus.callsSent() - before;
    const qint64 walkedBefore = walkBus.callsSent();
    const AtspiControls::Reading walked = walk.read(chromium.pid());
    const qint64 walkCalls = walkBus.callsSent() - walkedBefore;

    EXPECT_EQ(searched.labels, walked.labels);
    ASSERT_EQ(searched.fields.size(), walked.fields.size());
    for (qsizetype i = 0; i < walked.fields.size(); ++i) {
        EXPECT_EQ(searched.fields[i].value, walked.fields[i].value);
        EXPECT_EQ(searched.fields[i].editable, walked.fields[i].editable);
        EXPECT_EQ(searched.fields[i].focused, walked.fields[i].focused);
    }
    // In page order, hidden controls left out, a title naming a button without text.
    const auto at = [&](const QString& label) { return searched.labels.indexOf(label); };
    EXPECT_LT(at(u"Copy"_qs), at(u"Retry answer"_qs));
    EXPECT_LT(at(u"Retry answer"_qs), at(u"Deep action"_qs));
    EXPECT_LT(at(u"Deep action"_qs), at(u"Stop generating"_qs));
    EXPECT_EQ(at(u"Hidden action"_qs), -1);
    EXPECT_EQ(searched.labels.count(u"Copy"_qs), 40);
    EXPECT_EQ(searched.fields.size(), 1);
    EXPECT_EQ(searched.fields.value(0).value, u"Draft of the next question"_qs);
    EXPECT_LT(searchCalls * 2, walkCalls) << searchCalls << " calls against " << walkCalls;

    // Buttons to press come from the same search.
    QStringList pressable;
    for (const AtspiControls::Button& button : search.buttons(chromium.pid()))
        pressable.append(button.label);
    EXPECT_EQ(pressable, searched.labels);
}
