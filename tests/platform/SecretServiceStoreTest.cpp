#include "platform/linux/SecretServiceStore.h"
#include "store/ContextStore.h"
#include "store/KeyProviders.h"
#include "store/StoreTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

const QString kService = QString::fromLatin1(KeychainKeyProvider::kService);
const QString kAccount = QString::fromLatin1(KeychainKeyProvider::kAccount);

} // namespace

// Runs inside scripts/test-env.sh: a private D-Bus session with an unlocked gnome-keyring.
TEST(SecretServiceKeyring, TheDatabaseKeyIsCreatedInTheKeyringAndReadBack) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1")
        << "this test writes to the keyring; run it through scripts/test-env.sh";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kestrune.db"));
    SecretServiceStore secrets;
    {
        KeychainKeyProvider provider(secrets, path);
        ContextStore store(path, provider);
    }
    const SecretStore::ReadResult stored = secrets.read(kService, kAccount);
    ASSERT_EQ(stored.status, SecretStore::Status::Ok) << "code " << stored.code;
    EXPECT_EQ(stored.data.size(), 32);
    EXPECT_FALSE(QFile::exists(KeychainKeyProvider::keyFilePath(path)));

    KeychainKeyProvider again(secrets, path);
    EXPECT_EQ(again.databaseKey(), stored.data);
    ContextStore reopened(path, again);
    EXPECT_TRUE(reopened.migrationsAppliedAtOpen().isEmpty()) << "the same database reopened";

    EXPECT_EQ(secrets.read(kService, u"no-such-account"_qs).status, SecretStore::Status::NotFound);
}

// Runs with a session bus address that leads nowhere.
TEST(NoSecretService, TheKeyFallsBackToAPrivateFileBesideTheDatabase) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kestrune.db"));
    SecretServiceStore secrets;
    EXPECT_EQ(secrets.read(kService, kAccount).status, SecretStore::Status::Unavailable);

    KeychainKeyProvider provider(secrets, path);
    { ContextStore store(path, provider); }
    const QString keyFile = KeychainKeyProvider::keyFilePath(path);
    EXPECT_EQ(modeOf(keyFile), 0600);
    EXPECT_EQ(readBytes(keyFile).size(), 32);
    ContextStore reopened(path, provider);
    EXPECT_TRUE(reopened.migrationsAppliedAtOpen().isEmpty());
}
