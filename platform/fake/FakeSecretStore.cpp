#include "platform/fake/FakeSecretStore.h"

namespace {

QString entryKey(const QString& service, const QString& account) {
    return service + QLatin1Char('\n') + account;
}

} // namespace

SecretStore::ReadResult FakeSecretStore::read(const QString& service, const QString& account) {
    if (m_unavailable)
        return {Status::Unavailable, {}, 7};
    if (m_readFailure)
        return {Status::Failed, {}, *m_readFailure};
    const auto found = m_entries.constFind(entryKey(service, account));
    if (found == m_entries.cend())
        return {Status::NotFound, {}, 1};
    return {Status::Ok, *found, 0};
}

SecretStore::WriteResult FakeSecretStore::write(const QString& service, const QString& account,
                                                const QByteArray& data) {
    if (m_unavailable)
        return {Status::Unavailable, 7};
    if (m_writeFailure)
        return {Status::Failed, *m_writeFailure};
    ++m_writes;
    m_entries.insert(entryKey(service, account), data);
    return {Status::Ok, 0};
}

std::optional<QByteArray> FakeSecretStore::entry(const QString& service,
                                                 const QString& account) const {
    const auto found = m_entries.constFind(entryKey(service, account));
    if (found == m_entries.cend())
        return std::nullopt;
    return *found;
}
