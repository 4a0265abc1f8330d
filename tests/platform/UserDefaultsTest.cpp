#include "LogCapture.h"
#include "Wait.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/JsonFileUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(UserDefaultsTest, ValuesOfTheWrongTypeReadAsAbsent) {
    MemoryUserDefaults defaults;
    defaults.setRaw(u"settings.engagementSeconds"_qs, 90.5);
    defaults.setRaw(u"settings.staleAfterMinutes"_qs, u"20"_qs);
    defaults.setRaw(u"settings.composeBundleIDs"_qs, QJsonArray{u"a"_qs, 1});
    defaults.setRaw(u"settings.downloadsDetector"_qs, 1);
    EXPECT_EQ(defaults.integerValue(u"settings.engagementSeconds"_qs), std::nullopt);
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), std::nullopt);
    EXPECT_EQ(defaults.stringValue(u"settings.staleAfterMinutes"_qs), u"20"_qs);
    EXPECT_EQ(defaults.stringListValue(u"settings.composeBundleIDs"_qs), std::nullopt);
    EXPECT_EQ(defaults.boolValue(u"settings.downloadsDetector"_qs), std::nullopt);
    EXPECT_EQ(defaults.boolValue(u"missing"_qs), std::nullopt);

    int changes = 0;
    QObject::connect(&defaults, &UserDefaults::changed, [&] { ++changes; });
    defaults.setInteger(u"settings.engagementSeconds"_qs, 60);
    defaults.setInteger(u"settings.engagementSeconds"_qs, 60);
    EXPECT_EQ(defaults.integerValue(u"settings.engagementSeconds"_qs), 60);
    EXPECT_EQ(changes, 1) << "an unchanged value is no change";
}

TEST(UserDefaultsTest, TheFileKeepsTypesAcrossRunsAndFollowsOutsideChanges) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Kestrune/defaults.json"_qs);
    {
        JsonFileUserDefaults defaults(path);
        defaults.setBool(u"settings.launchAtLogin.configured"_qs, true);
        defaults.setInteger(u"settings.staleAfterMinutes"_qs, 45);
        defaults.setString(u"settings.sensoryProfile"_qs, u"coach"_qs);
        defaults.setStringList(u"settings.composeBundleIDs"_qs, {u"org.mozilla.thunderbird"_qs});
        defaults.remove(u"settings.sensoryProfile"_qs);
    }
    JsonFileUserDefaults defaults(path);
    EXPECT_EQ(defaults.boolValue(u"settings.launchAtLogin.configured"_qs), true);
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), 45);
    EXPECT_EQ(defaults.stringValue(u"settings.sensoryProfile"_qs), std::nullopt);
    EXPECT_EQ(defaults.stringListValue(u"settings.composeBundleIDs"_qs),
              QStringList{u"org.mozilla.thunderbird"_qs});
    EXPECT_FALSE(QFile::exists(path + u".tmp"_qs));

    // Another program rewrites the file (atomically, as editors do).
    int changes = 0;
    QObject::connect(&defaults, &UserDefaults::changed, [&] { ++changes; });
    {
        QFile replacement(path + u".new"_qs);
        ASSERT_TRUE(replacement.open(QIODevice::WriteOnly));
        replacement.write(R"({"settings.staleAfterMinutes": 10})");
    }
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + u".new"_qs, path));
    QElapsedTimer waited;
    waited.start();
    while (defaults.integerValue(u"settings.staleAfterMinutes"_qs) != 10 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), 10);
    EXPECT_EQ(defaults.boolValue(u"settings.launchAtLogin.configured"_qs), std::nullopt);
    EXPECT_GE(changes, 1);

    // A broken file keeps the last good values.
    LogCapture log;
    {
        QFile broken(path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("{\"settings.staleAfterMinutes\": ");
    }
    waitFor([&] { return log.count(u"cannot be read"_qs) > 0; });
    EXPECT_EQ(log.count(u"cannot be read"_qs), 1);
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), 10);
}

TEST(UserDefaultsTest, AFileThatDoesNotParseIsNeverWrittenOver) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"defaults.json"_qs);
    // Hand-edited, with a trailing comma.
    const QByteArray mine =
        "{\n  \"settings.staleAfterMinutes\": 30,\n  \"settings.sensoryProfile\": "
        "\"coach\",\n}\n";
    writeAll(path, mine);

    LogCapture log;
    JsonFileUserDefaults defaults(path);
    defaults.setBool(u"settings.launchAtLogin.configured"_qs, true);
    defaults.setInteger(u"settings.retentionDays"_qs, 7);
    defaults.remove(u"settings.retentionDays"_qs);
    EXPECT_EQ(readAll(path), mine) << "the user's file is untouched";
    EXPECT_EQ(defaults.boolValue(u"settings.launchAtLogin.configured"_qs), true);
    EXPECT_EQ(log.count(u"cannot be read"_qs), 1) << log.lines().join(u'\n').toStdString();
    EXPECT_TRUE(log.lines().join(u'\n').contains(path)) << "the warning names the file";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"defaults.json"_qs})
        << "nothing moved aside";

    // The user fixes the file: the change made meanwhile joins what they wrote.
    writeAll(path, "{\"settings.staleAfterMinutes\": 30, \"settings.sensoryProfile\": \"coach\"}");
    waitFor([&] { return defaults.unsavedChanges() == 0; });
    const QJsonObject saved = QJsonDocument::fromJson(readAll(path)).object();
    EXPECT_EQ(saved.value(u"settings.staleAfterMinutes"_qs).toInt(), 30);
    EXPECT_EQ(saved.value(u"settings.sensoryProfile"_qs).toString(), u"coach"_qs);
    EXPECT_EQ(saved.value(u"settings.launchAtLogin.configured"_qs).toBool(), true);
    EXPECT_FALSE(saved.contains(u"settings.retentionDays"_qs));
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), 30);
    EXPECT_EQ(defaults.boolValue(u"settings.launchAtLogin.configured"_qs), true);
}
