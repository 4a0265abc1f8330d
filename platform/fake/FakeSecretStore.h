#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <optional>

// An in-memory keychain. Tests can make it unreachable or failing.
class FakeSecretStore final : public SecretStore {
public:
    ReadResult read(const QString& service, const QString& account) override;
    WriteResult write(const QString& service, const QString& account,
                      const QByteArray& data) override;

    // Control surface.
    void setUnavailable(bool unavailable) { m_unavailable = unavailable; }
    void failReadsWith(std::optional<qint32> code) { m_readFailure = code; }
    void failWritesWith(std::optional<qint32> code) { m_writeFailure = code; }
    std::optional<QByteArray> entry(const QString& service, const QString& account) const;
    int writeCount() const { return m_writes; }

private:
    QHash<QString, QByteArray> m_entries;
    bool m_unavailable = false;
    std::optional<qint32> m_readFailure;
    std::optional<qint32> m_writeFailure;
    int m_writes = 0;
};
