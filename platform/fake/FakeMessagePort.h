#pragma once

#include "platform/MessagePort.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <memory>

// Endpoints in memory: a send reaches the receiver listening on that name at once.
class FakeMessagePort final : public MessagePort {
public:
    std::unique_ptr<Endpoint> listen(const QString& name, Receiver receiver) override;
    SendResult send(const QString& name, const QByteArray& payload) override;

    // Every send, delivered or not: (name, payload).
    QList<QPair<QString, QByteArray>> sent;
    bool refuseListening = false;

private:
    using Receivers = QHash<QString, std::shared_ptr<Receiver>>;
    std::shared_ptr<Receivers> m_receivers = std::make_shared<Receivers>();
};
