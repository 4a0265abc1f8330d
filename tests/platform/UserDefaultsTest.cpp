#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/JsonFileUserDefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    {
        QFile broken(path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("{\"settings.staleAfterMinutes\": ");
    }
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(defaults.integerValue(u"settings.staleAfterMinutes"_qs), 10);
}
