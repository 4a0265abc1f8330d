#include "store/KeyProviders.h"
#include "platform/fake/FakeSecretStore.h"
#include "store/ContextStore.h"
#include "store/StoreError.h"
#include "store/StoreTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

const QString kService = QString::fromLatin1(KeychainKeyProvider::kService);
const QString kAccount = QString::fromLatin1(KeychainKeyProvider::kAccount);

class KeychainKeyProviderTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kestrune.db"));
    QString keyFile = KeychainKeyProvider::keyFilePath(path);
    FakeSecretStore secrets;
    KeychainKeyProvider provider{secrets, path};
};

} // namespace

TEST_F(KeychainKeyProviderTest, FirstUseStoresARandomKeyThatLaterRunsReadBack) {
    const QByteArray key = provider.databaseKey();
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(secrets.entry(kService, kAccount), key);
    EXPECT_EQ(provider.databaseKey(), key);
    EXPECT_EQ(secrets.writeCount(), 1);
    EXPECT_FALSE(QFile::exists(keyFile));

    FakeSecretStore otherMachine;
    EXPECT_NE(KeychainKeyProvider(otherMachine, path).databaseKey(), key) << "keys are random";
}

TEST_F(KeychainKeyProviderTest, KeychainFailuresCarryTheirStatusAndCreateNoKey) {
    secrets.failReadsWith(4);
    try {
        provider.databaseKey();
        FAIL() << "expected keychainFailure";
    } catch (const ContextStoreError& error) {
        EXPECT_EQ(error.kind(), ContextStoreError::Kind::KeychainFailure);
        EXPECT_EQ(error.status(), 4);
    }
    EXPECT_EQ(secrets.writeCount(), 0);

    secrets.failReadsWith(std::nullopt);
    secrets.failWritesWith(3);
    try {
        provider.databaseKey();
        FAIL() << "expected keychainFailure";
    } catch (const ContextStoreError& error) {
        EXPECT_EQ(error.status(), 3);
    }
    EXPECT_FALSE(QFile::exists(keyFile));
}

TEST_F(KeychainKeyProviderTest, WithoutAnyKeychainServiceTheKeyLivesInAPrivateFile) {
    secrets.setUnavailable(true);
    const QByteArray key = provider.databaseKey();
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(readBytes(keyFile), key);
    EXPECT_EQ(modeOf(keyFile), 0600);
    { ContextStore store(path, provider); }
    // Later runs, with or without a keychain service, keep using that file.
    EXPECT_EQ(provider.databaseKey(), key);
    secrets.setUnavailable(false);
    EXPECT_EQ(provider.databaseKey(), key);
    EXPECT_EQ(secrets.writeCount(), 0);
    ContextStore reopened(path, provider);
    EXPECT_TRUE(reopened.migrationsAppliedAtOpen().isEmpty()) << "same database, not a fresh one";
}

TEST_F(KeychainKeyProviderTest, AKeychainKeyedDatabaseIsNotReplacedWhenTheKeychainIsAway) {
    { ContextStore store(path, provider); }
    secrets.setUnavailable(true);
    EXPECT_THROW(provider.databaseKey(), ContextStoreError);
    EXPECT_FALSE(QFile::exists(keyFile));
    secrets.setUnavailable(false);
    ContextStore reopened(path, provider);
    EXPECT_TRUE(reopened.migrationsAppliedAtOpen().isEmpty());
}

TEST_F(KeychainKeyProviderTest, AKeyringWithoutTheEntryNeverGetsANewKeyOverExistingData) {
    { ContextStore store(path, provider); }
    const QByteArray database = readBytes(path);
    FakeSecretStore anotherSessionsKeyring; // answers, but holds no entry of ours
    KeychainKeyProvider elsewhere(anotherSessionsKeyring, path);
    EXPECT_THROW(elsewhere.databaseKey(), ContextStoreError);
    EXPECT_EQ(anotherSessionsKeyring.writeCount(), 0) << "no key minted";
    EXPECT_FALSE(QFile::exists(keyFile));
    EXPECT_EQ(readBytes(path), database);

    // Starting fresh moves the database aside; then a new key is made for a new one.
    ASSERT_TRUE(ContextStore::quarantine(path));
    const QByteArray fresh = elsewhere.databaseKey();
    EXPECT_EQ(fresh.size(), 32);
    EXPECT_EQ(anotherSessionsKeyring.writeCount(), 1);
}

TEST(EphemeralKeyProviderTest, DevelopmentKeyIsFixedAndDiffersFromRandomKeys) {
    const QByteArray key = EphemeralKeyProvider::developmentKey();
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(EphemeralKeyProvider(key).databaseKey(), EphemeralKeyProvider::developmentKey());
}
