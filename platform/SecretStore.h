#pragma once

#include <QByteArray>
#include <QString>

// The platform keychain: one secret per (service, account).
class SecretStore {
public:
    enum class Status {
        Ok,
        NotFound,    // the service answered: no such entry
        Unavailable, // no keychain service is reachable at all
        Failed,      // the service is there but refused or failed; see code
    };

    struct ReadResult {
        Status status;
        QByteArray data;
        qint32 code = 0;
    };

    struct WriteResult {
        Status status;
        qint32 code = 0;
    };

    virtual ~SecretStore() = default;
    virtual ReadResult read(const QString& service, const QString& account) = 0;
    virtual WriteResult write(const QString& service, const QString& account,
                              const QByteArray& data) = 0;
};
