#pragma once

#include "platform/MessagePort.h"

#include <optional>

// MessagePort over Unix datagram sockets, one socket file per endpoint name in a private
// folder: $XDG_RUNTIME_DIR/kestrune (0700), or without XDG_RUNTIME_DIR a per-user 0700
// folder in the temporary directory whose owner and mode are checked. Socket files are 0600.
class UnixDatagramMessagePort final : public MessagePort {
public:
    // The largest message the sockets are sized for; larger ones fail to send.
    static constexpr int kMaxMessageBytes = 4 * 1024 * 1024;

    // Uses the default folder.
    UnixDatagramMessagePort();
    // Uses `folder` (created 0700 if missing), for tests.
    explicit UnixDatagramMessagePort(QString folder);

    std::unique_ptr<Endpoint> listen(const QString& name, Receiver receiver) override;
    SendResult send(const QString& name, const QByteArray& payload) override;

    // The folder, or nothing when it is missing and cannot be made safely.
    std::optional<QString> folder() const;
    static QString defaultFolder();

private:
    std::optional<QString> socketPath(const QString& name) const;

    QString m_folder;
};
