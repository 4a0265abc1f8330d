#pragma once

#include "platform/SecretStore.h"

// The desktop keyring through the freedesktop Secret Service (or KWallet), via qtkeychain.
// Never uses qtkeychain's plaintext fallback. Calls block on a local event loop until the
// keyring answers, so they need a QCoreApplication.
class SecretServiceStore final : public SecretStore {
public:
    ReadResult read(const QString& service, const QString& account) override;
    WriteResult write(const QString& service, const QString& account,
                      const QByteArray& data) override;

private:
    // Whether any keyring service is running or can be started on the session bus.
    static bool serviceReachable();
};
