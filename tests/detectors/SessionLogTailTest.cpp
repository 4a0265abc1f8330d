#include "detectors/SessionLogTail.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Claude Code lines of every kind the launch cares about, and some it does not.
QByteArray line(QRandomGenerator& random, int serial) {
    const QByteArray n = QByteArray::number(serial);
    const QByteArray padding(random.bounded(0, 3) == 0 ? random.bounded(20000, 150000) : 40, 'w');
    switch (random.bounded(0, 11)) {
    case 0:
        return R"({"type":"user","cwd":"/home/me/p)" + n +
               R"(","message":{"role":"user","content":"Prompt )" + n + "\"}}";
    case 1:
        return R"({"type":"assistant","message":{"stop_reason":"end_turn","content":")" + padding +
               "\"}}";
    case 2:
        return R"({"type":"system","subtype":"turn_duration","durationMs":)" + n + "}";
    case 3:
        return R"({"type":"user","message":{"role":"user","content":[{"type":"tool_result","content":")" +
               padding + "\"}]}}";
    case 4:
        return R"({"type":"summary","title":"Title )" + n + "\"}";
    case 5:
        return "not json at all " + padding;
    case 6:
        return "";
    case 7: // "user" inside a text, escaped: no prompt
        return R"({"type":"assistant","message":{"stop_reason":"tool_use","content":"say \"user\" )" +
               padding + "\"}}";
    default:
        return R"({"type":"assistant","cwd":"/home/me/q)" + n +
               R"(","message":{"stop_reason":"tool_use","content":")" + padding + "\"}}";
    }
}

// What reading the whole file from its start gives.
SessionLogTail::Facts forward(const QByteArray& contents,
                              const SessionLogDetector::Config& config) {
    SessionLogTail::Facts facts;
    const qsizetype end = contents.lastIndexOf('\n') + 1;
    facts.partialLine = contents.mid(end);
    for (const QByteArray& each : contents.left(end).split('\n')) {
        if (each.trimmed().isEmpty())
            continue;
        const auto [event, name] = config.meaning(each);
        if (name)
            facts.label = name;
        if (event)
            facts.latest = event;
        if (event && std::holds_alternative<SessionLogDetector::PromptSent>(*event))
            facts.prompt = std::get<SessionLogDetector::PromptSent>(*event);
    }
    return facts;
}

QString describe(const std::optional<SessionLogDetector::Event>& event) {
    if (!event)
        return u"none"_qs;
    if (const auto* prompt = std::get_if<SessionLogDetector::PromptSent>(&*event))
        return u"prompt "_qs + prompt->text.value_or(QString());
    return std::holds_alternative<SessionLogDetector::TurnComplete>(*event) ? u"complete"_qs
                                                                            : u"aborted"_qs;
}

} // namespace

TEST(SessionLogTailTest, ReadingBackwardsFindsWhatReadingTheWholeLogFinds) {
    const SessionLogDetector::Config config =
        SessionLogDetector::claudeCode(u"com.anthropic.claudefordesktop"_qs, QString());
    QTemporaryDir dir;
    QRandomGenerator random(20261207);
    for (int round = 0; round < 150; ++round) {
        QByteArray contents;
        const int lines = random.bounded(0, 40);
        for (int i = 0; i < lines; ++i)
            contents += line(random, i) + (random.bounded(0, 8) == 0 ? "\r\n" : "\n");
        if (random.bounded(0, 3) == 0) // half-written last line
            contents += line(random, 99).left(random.bounded(0, 90000));
        const QString path = dir.filePath(QString::number(round));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();

        const SessionLogTail::Facts expected = forward(contents, config);
        const std::optional<SessionLogTail::Facts> found =
            SessionLogTail::read(path, contents.size(), config, std::numeric_limits<qint64>::max());
        ASSERT_TRUE(found);
        SCOPED_TRACE(round);
        EXPECT_TRUE(found->complete);
        EXPECT_EQ(describe(found->latest), describe(expected.latest));
        EXPECT_EQ(found->prompt.has_value(), expected.prompt.has_value());
        EXPECT_EQ(found->prompt ? found->prompt->text : std::nullopt,
                  expected.prompt ? expected.prompt->text : std::nullopt);
        EXPECT_EQ(found->label, expected.label);
        EXPECT_EQ(found->partialLine, expected.partialLine);
        EXPECT_LE(found->bytesRead, contents.size());
        // Bytes appended after the size taken are not read.
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(R"({"type":"user","cwd":"/later","message":{"content":"Later"}})"
                   "\n");
        file.close();
        const std::optional<SessionLogTail::Facts> again =
            SessionLogTail::read(path, contents.size(), config, std::numeric_limits<qint64>::max());
        EXPECT_EQ(describe(again->latest), describe(expected.latest));
    }
}

TEST(SessionLogTailTest, ItStopsAtTheLatestTurnAndWithinItsBudget) {
    const SessionLogDetector::Config config =
        SessionLogDetector::claudeCode(u"com.anthropic.claudefordesktop"_qs, QString());
    QTemporaryDir dir;
    const QByteArray filler =
        R"({"type":"assistant","cwd":"/home/me/shop","message":{"stop_reason":"tool_use","content":")" +
        QByteArray(1000, 'w') + "\"}}\n";
    QByteArray contents =
        R"({"type":"user","cwd":"/home/me/shop","message":{"content":"Old prompt"}})"
        "\n";
    for (int i = 0; i < 4000; ++i) // 4 MB of an earlier turn
        contents += filler;
    const QByteArray latest =
        R"({"type":"user","cwd":"/home/me/shop","message":{"content":"Latest prompt"}})"
        "\n";
    const QString path = dir.filePath(u"log.jsonl"_qs);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents + latest + filler + filler);
    file.close();

    const auto found = SessionLogTail::read(path, file.size(), config, 1 << 20);
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->complete);
    EXPECT_EQ(found->prompt->text, u"Latest prompt"_qs);
    EXPECT_EQ(found->label, u"shop"_qs);
    EXPECT_LE(found->bytesRead, 2 * SessionLogTail::kBlockBytes) << "not the earlier turn";

    // The latest prompt 4 MB back: a 1 MB budget runs out, no budget finds it.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(latest);
    for (int i = 0; i < 4000; ++i)
        file.write(filler);
    file.close();
    const auto short_ = SessionLogTail::read(path, file.size(), config, 1 << 20);
    EXPECT_FALSE(short_->complete);
    EXPECT_LE(short_->bytesRead, (1 << 20) + SessionLogTail::kBlockBytes);
    const auto whole =
        SessionLogTail::read(path, file.size(), config, std::numeric_limits<qint64>::max());
    EXPECT_TRUE(whole->complete);
    EXPECT_EQ(whole->prompt->text, u"Latest prompt"_qs);

    // An unfinished last line over the cap is dropped, not held; the lines before it count.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(latest);
    file.write(QByteArray(SessionLogDetector::kMaxLineBytes + 100, 'z'));
    file.close();
    const auto longLine =
        SessionLogTail::read(path, file.size(), config, std::numeric_limits<qint64>::max());
    EXPECT_TRUE(longLine->partialTooLong);
    EXPECT_TRUE(longLine->partialLine.isEmpty());
    EXPECT_EQ(longLine->prompt->text, u"Latest prompt"_qs);
    EXPECT_FALSE(SessionLogTail::read(dir.filePath(u"missing"_qs), 10, config, 1))
        << "an unreadable log gives nothing";
}
