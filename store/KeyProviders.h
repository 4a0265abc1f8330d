#pragma once

#include <QByteArray>
#include <QString>

class SecretStore;

// Supplies the database key: raw bytes used as the SQLCipher passphrase.
class DatabaseKeyProviding {
public:
    virtual ~DatabaseKeyProviding() = default;
    // Throws ContextStoreError (keychain) or StoreFileError (key file).
    virtual QByteArray databaseKey() = 0;
};

// A fixed key, for development runs and tests that must not touch the keychain.
class EphemeralKeyProvider final : public DatabaseKeyProviding {
public:
    explicit EphemeralKeyProvider(QByteArray key);
    QByteArray databaseKey() override { return m_key; }

    // The 32-byte development key, derived at run time from a constant.
    static QByteArray developmentKey();

private:
    QByteArray m_key;
};

// Keeps one random 32-byte key in the platform keychain (service "app.kestrune", account
// "database-key"), creating it on first use. When no keychain service is reachable at all,
// the key lives in an owner-only file beside the database instead. A key is never made up
// while a database exists (it could not read it): that fails with keychainFailure.
class KeychainKeyProvider final : public DatabaseKeyProviding {
public:
    static constexpr auto kService = "app.kestrune";
    static constexpr auto kAccount = "database-key";
    static constexpr int kKeyLength = 32;

    KeychainKeyProvider(SecretStore& secrets, QString databasePath);
    QByteArray databaseKey() override;

    // "<database>.key": where the key lives when there is no keychain service.
    static QString keyFilePath(const QString& databasePath);

private:
    QByteArray keyWithoutKeychain(qint32 status);
    QByteArray readKeyFile() const;
    bool hasExistingDatabase() const;

    SecretStore& m_secrets;
    QString m_databasePath;
};
