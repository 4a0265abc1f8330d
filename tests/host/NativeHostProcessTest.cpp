#include "host/HostHarness.h"

#include <QJsonArray>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QJsonObject ok{{u"ok"_qs, true}};
const QJsonObject notOk{{u"ok"_qs, false}};

QJsonObject signal(QJsonObject extra = {}) {
    QJsonObject message{{u"site"_qs, u"claude"_qs}, {u"event"_qs, u"response_complete"_qs}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        message.insert(it.key(), it.value());
    return message;
}

QJsonObject tab(QJsonObject extra) {
    QJsonObject message{{u"event"_qs, u"tab_context"_qs}, {u"origin"_qs, u"https://claude.ai"_qs}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        message.insert(it.key(), it.value());
    return message;
}

} // namespace

TEST(NativeHostFramesTest, InvalidFramesEndTheHostQuietlyWithStatusZero) {
    const QList<QByteArray> invalid = {
        HostHarness::header(0),         HostHarness::header(1'000'000) + QByteArray(1'000'000, ' '),
        HostHarness::header(1) + "{",   HostHarness::header(2) + "[]",
        HostHarness::header(2) + "\"x",
    };
    for (const QByteArray& bytes : invalid) {
        HostHarness host;
        host.writeRaw(bytes);
        EXPECT_EQ(host.waitForExit(), 0) << bytes.left(12).toHex().toStdString();
        EXPECT_TRUE(host.unreadOutput().isEmpty()) << "an invalid frame gets no reply";
        EXPECT_TRUE(host.standardError().isEmpty());
    }

    HostHarness shortBody;
    shortBody.writeRaw(HostHarness::header(10) + "{\"a\":");
    EXPECT_EQ(shortBody.finish(), 0);
    EXPECT_TRUE(shortBody.unreadOutput().isEmpty());

    HostHarness partialHeader;
    partialHeader.writeRaw(QByteArray(2, '\x05'));
    EXPECT_EQ(partialHeader.finish(), 0);
}

TEST(NativeHostFramesTest, TheLargestFrameIsReadAndTheEmptyObjectIsAnUnknownSignal) {
    HostHarness host;
    const QByteArray head = R"({"site":"gemini","event":"generation_started","title":")";
    QByteArray body = head + QByteArray(999'999 - head.size() - 2, 'T') + "\"}";
    ASSERT_EQ(body.size(), 999'999);
    host.send(body);
    EXPECT_EQ(host.reply(), ok);
    ASSERT_TRUE(host.waitForForwarded(1));
    EXPECT_EQ(host.forwarded[0][u"title"_qs].toString(), QString(256, u'T'));

    host.send(QJsonObject{});
    EXPECT_EQ(host.reply(), notOk);
    EXPECT_EQ(host.finish(), 0);
    EXPECT_TRUE(host.standardError().isEmpty());
}

TEST(NativeHostTabContextTest, OnlyWellFormedAddressesGoOnAndEveryMessageIsAnswered) {
    HostHarness host;
    const QString emoji = u"👩‍💻"_qs;
    const QString origin256 = u"https://"_qs + QString(248, u'o');
    QList<QJsonObject> messages = {
        tab({{u"path"_qs, u"/c/abc?model=x#top"_qs}, {u"tabId"_qs, 7}}),
        tab({}),
        tab({{u"origin"_qs, origin256},
             {u"path"_qs, u"/"_qs + emoji.repeated(1023)},
             {u"title"_qs, emoji.repeated(300)},
             {u"tabId"_qs, 7.0}}),
        // rejected: not forwarded, still answered
        tab({{u"origin"_qs, origin256 + u"o"_qs}}),
        tab({{u"origin"_qs, u"https://claude.ai?x"_qs}}),
        tab({{u"origin"_qs, u"https://claude.ai#x"_qs}}),
        tab({{u"origin"_qs, u"ftp://claude.ai"_qs}}),
        tab({{u"origin"_qs, 5}}),
        tab({{u"path"_qs, u"c/abc"_qs}}),
        tab({{u"path"_qs, u"?only=query"_qs}}),
        tab({{u"path"_qs, u"/"_qs + QString(1024, u'p')}}),
        // optional fields that do not pass are left out
        tab({{u"path"_qs, 42},
             {u"title"_qs, u""_qs},
             {u"tabId"_qs, u"7"_qs},
             {u"favicon"_qs, u"https://claude.ai/favicon.ico"_qs}}),
        tab({{u"tabId"_qs, 7.5},
             {u"favicon"_qs, u"data:image/png;base64,"_qs + QString(65536 - 22, u'A')}}),
        tab({{u"favicon"_qs, u"data:image/png;base64,"_qs + QString(65537 - 22, u'A')}}),
    };
    for (const QJsonObject& message : messages) {
        host.send(message);
        EXPECT_EQ(host.reply(), ok);
    }
    ASSERT_TRUE(host.waitForForwarded(6));
    host.settle();
    ASSERT_EQ(host.forwarded.size(), 6);

    const QString port = host.hostPortName();
    EXPECT_EQ(host.forwarded[0], (QJsonObject{{u"kind"_qs, u"tab_context"_qs},
                                              {u"url"_qs, u"https://claude.ai/c/abc"_qs},
                                              {u"hostPort"_qs, port},
                                              {u"tabId"_qs, 7}}));
    EXPECT_EQ(host.forwarded[1][u"url"_qs].toString(), u"https://claude.ai/"_qs);
    EXPECT_EQ(host.forwarded[2][u"url"_qs].toString(), origin256 + u"/"_qs + emoji.repeated(1023));
    EXPECT_EQ(host.forwarded[2][u"title"_qs].toString(), emoji.repeated(256));
    EXPECT_EQ(host.forwarded[2][u"tabId"_qs].toInteger(), 7);
    EXPECT_EQ(host.forwarded[3], (QJsonObject{{u"kind"_qs, u"tab_context"_qs},
                                              {u"url"_qs, u"https://claude.ai/"_qs},
                                              {u"hostPort"_qs, port}}));
    EXPECT_FALSE(host.forwarded[4].contains(u"tabId"_qs));
    EXPECT_EQ(host.forwarded[4][u"favicon"_qs].toString().size(), 65536);
    EXPECT_FALSE(host.forwarded[5].contains(u"favicon"_qs));
    EXPECT_EQ(host.finish(), 0);
}

TEST(NativeHostSignalTest, SignalsKeepOnlyAllowedSitesEventsAndCappedFields) {
    HostHarness host;
    const QString combining = u"e\u0301"_qs;
    const QList<QPair<QJsonObject, bool>> messages = {
        {signal({{u"url"_qs, u"https://claude.ai/chat/1?q=secret#m"_qs},
                 {u"prompt"_qs, combining.repeated(500)},
                 {u"title"_qs, u"Claude"_qs},
                 {u"tabId"_qs, 12}}),
         true},
        {signal({{u"url"_qs, u"ftp://claude.ai/x"_qs}, {u"prompt"_qs, u""_qs}}), true},
        {signal({{u"url"_qs, u"https://claude.ai/"_qs + QString(2048 - 18, u'u')}}), true},
        {signal({{u"url"_qs, u"https://claude.ai/"_qs + QString(2049 - 18, u'u')}}), true},
        {signal({{u"site"_qs, u"perplexity"_qs}}), false},
        {signal({{u"event"_qs, u"tab_context_x"_qs}}), false},
        {signal({{u"site"_qs, 1}}), false},
        {QJsonObject{{u"site"_qs, u"chatgpt"_qs}}, false},
        {signal({{u"event"_qs, u"generation_started"_qs}, {u"site"_qs, u"chatgpt"_qs}}), true},
    };
    for (const auto& [message, accepted] : messages) {
        host.send(message);
        EXPECT_EQ(host.reply(), accepted ? ok : notOk);
    }
    ASSERT_TRUE(host.waitForForwarded(5));
    host.settle();
    ASSERT_EQ(host.forwarded.size(), 5);
    const QJsonObject first = host.forwarded[0];
    EXPECT_EQ(first, (QJsonObject{{u"kind"_qs, u"ai_signal"_qs},
                                  {u"site"_qs, u"claude"_qs},
                                  {u"event"_qs, u"response_complete"_qs},
                                  {u"hostPort"_qs, host.hostPortName()},
                                  {u"url"_qs, u"https://claude.ai/chat/1"_qs},
                                  {u"prompt"_qs, combining.repeated(400)},
                                  {u"title"_qs, u"Claude"_qs},
                                  {u"tabId"_qs, 12}}));
    EXPECT_FALSE(host.forwarded[1].contains(u"url"_qs));
    EXPECT_FALSE(host.forwarded[1].contains(u"prompt"_qs));
    EXPECT_EQ(host.forwarded[2][u"url"_qs].toString().size(), 2048);
    EXPECT_FALSE(host.forwarded[3].contains(u"url"_qs));
    EXPECT_EQ(host.forwarded[4][u"site"_qs].toString(), u"chatgpt"_qs);
    EXPECT_EQ(host.finish(), 0);
}

TEST(NativeHostSignalTest, WithoutTheApplicationSignalsAreStillAnswered) {
    HostHarness host(false);
    host.send(signal());
    EXPECT_EQ(host.reply(), ok);
    host.send(tab({}));
    EXPECT_EQ(host.reply(), ok);
    EXPECT_EQ(host.finish(), 0);
}

TEST(NativeHostFocusTest, FocusRequestsReachTheBrowserWithoutEverSplittingAFrame) {
    HostHarness host;
    // The host's endpoint exists once it has started.
    QElapsedTimer started;
    started.start();
    while (host.port().send(host.hostPortName(), "{}") != MessagePort::SendResult::Sent &&
           started.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const auto request = [&](const QJsonObject& object) {
        return host.port().send(host.hostPortName(),
                                QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    ASSERT_EQ(
        request(
            {{u"action"_qs, u"focus_tab"_qs}, {u"tabId"_qs, 42}, {u"url"_qs, u"https://x/"_qs}}),
        MessagePort::SendResult::Sent);
    EXPECT_EQ(host.reply(), (QJsonObject{{u"action"_qs, u"focus_tab"_qs}, {u"tabId"_qs, 42}}));
    request({{u"action"_qs, u"focus_tab"_qs}, {u"url"_qs, u"https://x/"_qs}});
    request({{u"action"_qs, u"focus_tab"_qs}, {u"tabId"_qs, u"42"_qs}});
    request({{u"action"_qs, u"close_tab"_qs}, {u"tabId"_qs, 1}});
    host.port().send(host.hostPortName(), "not json");
    host.port().send(host.hostPortName(), QByteArray());

    // Acknowledgements from the reading thread and focus frames from the main thread,
    // written at the same time.
    constexpr int kMessages = 300;
    constexpr int kFocus = 300;
    std::thread focusSender([&] {
        for (int i = 0; i < kFocus; ++i)
            request({{u"action"_qs, u"focus_tab"_qs}, {u"tabId"_qs, 1000 + i}});
    });
    QByteArray burst;
    const QByteArray body =
        QJsonDocument(signal({{u"title"_qs, QString(200, u't')}})).toJson(QJsonDocument::Compact);
    for (int i = 0; i < kMessages; ++i)
        burst += HostHarness::header(static_cast<quint32>(body.size())) + body;
    host.writeRaw(burst);
    focusSender.join();

    int acknowledgements = 0;
    QList<qint64> tabs;
    while (acknowledgements < kMessages || tabs.size() < kFocus) {
        const auto frame = host.reply();
        ASSERT_TRUE(frame) << acknowledgements << " acks, " << tabs.size() << " focus frames";
        if (frame->contains(u"ok"_qs)) {
            EXPECT_EQ(*frame, ok);
            ++acknowledgements;
        } else {
            ASSERT_EQ(frame->keys(), (QStringList{u"action"_qs, u"tabId"_qs}));
            tabs.append(frame->value(u"tabId"_qs).toInteger());
        }
    }
    EXPECT_EQ(tabs.first(), 1000);
    EXPECT_EQ(tabs.last(), 1000 + kFocus - 1) << "datagrams arrive in order";
    EXPECT_EQ(host.finish(), 0);
    EXPECT_TRUE(host.unreadOutput().isEmpty()) << "no frame for the invalid requests";
    EXPECT_TRUE(host.standardError().isEmpty());
}
