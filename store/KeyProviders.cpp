#include "store/KeyProviders.h"

#include "model/Log.h"
#include "platform/SecretStore.h"
#include "store/FileSecurity.h"
#include "store/StoreError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <array>

namespace {

QByteArray randomKey() {
    std::array<quint32, KeychainKeyProvider::kKeyLength / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    QByteArray key(reinterpret_cast<const char*>(words.data()), KeychainKeyProvider::kKeyLength);
    words.fill(0);
    return key;
}

} // namespace

EphemeralKeyProvider::EphemeralKeyProvider(QByteArray key)
    : m_key(std::move(key)) {}

QByteArray EphemeralKeyProvider::developmentKey() {
    return QCryptographicHash::hash("tessarine development database key, not a secret",
                                    QCryptographicHash::Sha256);
}

KeychainKeyProvider::KeychainKeyProvider(SecretStore& secrets, QString databasePath)
    : m_secrets(secrets)
    , m_databasePath(std::move(databasePath)) {}

QString KeychainKeyProvider::keyFilePath(const QString& databasePath) {
    return databasePath + QStringLiteral(".key");
}

QByteArray KeychainKeyProvider::databaseKey() {
    const QString service = QString::fromLatin1(kService);
    const QString account = QString::fromLatin1(kAccount);
    const SecretStore::ReadResult found = m_secrets.read(service, account);
    switch (found.status) {
    case SecretStore::Status::Ok:
        if (!found.data.isEmpty())
            return found.data;
        break; // an empty entry holds no key
    case SecretStore::Status::NotFound:
        break;
    case SecretStore::Status::Unavailable:
        return keyWithoutKeychain(found.code);
    case SecretStore::Status::Failed:
        throw ContextStoreError::keychainFailure(found.code);
    }

    // A database made while no keychain service ran keeps its key file; a new keychain key
    // would make that database unreadable.
    if (QFileInfo::exists(keyFilePath(m_databasePath))) {
        qCInfo(lcStore) << "Using the database key file; the keychain holds no key";
        return readKeyFile();
    }

    // The keyring answers, but without our entry (another session's keyring, a reset one)
    // while a database exists: a new key would only get that database moved aside.
    if (hasExistingDatabase()) {
        qCCritical(lcStore).noquote()
            << "The keyring holds no key (service \"app.kestrune\", account \"database-key\")"
            << "for the existing database" << m_databasePath + QLatin1Char('.')
            << "Unlock the keyring that holds it, or restore that entry, and relaunch; or start"
            << "over with `tessarine --start-fresh`, which moves the old database aside.";
        throw ContextStoreError::keychainFailure(found.code);
    }

    const QByteArray key = randomKey();
    const SecretStore::WriteResult stored = m_secrets.write(service, account, key);
    if (stored.status != SecretStore::Status::Ok)
        throw ContextStoreError::keychainFailure(stored.code);
    return key;
}

QByteArray KeychainKeyProvider::keyWithoutKeychain(qint32 status) {
    const QString keyFile = keyFilePath(m_databasePath);
    if (QFileInfo::exists(keyFile)) {
        qCWarning(lcStore).noquote() << "No keychain service is reachable; the database is "
                                        "protected by file permissions only"
                                     << "(key file" << Log::privateArg(keyFile) + QLatin1Char(')');
        return readKeyFile();
    }
    // The existing database was keyed through the keychain: a new key would set it aside.
    if (hasExistingDatabase()) {
        qCCritical(lcStore) << "No keychain service is reachable and the database key lives there;"
                            << "start the desktop keyring (Secret Service) and relaunch";
        throw ContextStoreError::keychainFailure(status);
    }
    qCWarning(lcStore).noquote()
        << "No keychain service is reachable; creating a key file beside the database."
        << "The database is protected by file permissions only (key file"
        << Log::privateArg(keyFile) + QLatin1Char(')');
    const QByteArray key = randomKey();
    FileSecurity::writePrivateFileAtomically(keyFile, key);
    return key;
}

bool KeychainKeyProvider::hasExistingDatabase() const {
    return QFileInfo(m_databasePath).size() > 0;
}

QByteArray KeychainKeyProvider::readKeyFile() const {
    const QString keyFile = keyFilePath(m_databasePath);
    FileSecurity::restrictToOwner(keyFile);
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly))
        throw StoreFileError(
            QStringLiteral("Could not read the key file %1: %2").arg(keyFile, file.errorString()));
    const QByteArray key = file.readAll();
    if (key.isEmpty())
        throw StoreFileError(QStringLiteral("The key file %1 is empty").arg(keyFile));
    return key;
}
