#pragma once

#include "model/Time.h"
#include "store/ContextStore.h"
#include "store/KeyProviders.h"
#include "store/StoreTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A store on a real encrypted database in a temporary folder.
class StoreFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kestrune.db"));
    EphemeralKeyProvider key{TestSupport::testKey()};
    std::unique_ptr<ContextStore> store = std::make_unique<ContextStore>(path, key);

    // Seconds after a fixed base time, so stored milliseconds are easy to read.
    static TimePoint at(double seconds) {
        return fromMillis(1'700'000'000'000 + static_cast<qint64>(seconds * 1000));
    }
    static qint64 ms(double seconds) { return toMillis(at(seconds)); }

    // A second connection, for inspecting rows and for setting up what no store call can.
    std::unique_ptr<Database> raw() { return TestSupport::openRaw(path, TestSupport::testKey()); }
    qint64 count(const QString& sql) { return raw()->scalarInt(sql).value_or(-1); }
    void addRule(const QString& scope, const QString& matcher,
                 const QString& mode = u"never_track"_qs) {
        raw()->execute(QStringLiteral("INSERT INTO privacy_rule (id, scope, matcher, mode, "
                                      "is_default, created_at) VALUES (?, ?, ?, ?, 0, 1)"),
                       newRuleID(), scope, matcher, mode);
        store->reloadPrivacyRules();
    }

    QString loop(const QString& bundleID, double seconds = 0,
                 const std::optional<QString>& titleKey = std::nullopt) {
        auto id =
            store->createContext(bundleID, titleKey, titleKey, false, std::nullopt, at(seconds));
        EXPECT_TRUE(id.has_value());
        return id.value_or(QString());
    }

private:
    QString newRuleID() { return QStringLiteral("R%1").arg(++m_rules); }
    int m_rules = 0;
};
