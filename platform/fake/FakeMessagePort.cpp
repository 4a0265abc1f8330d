#include "platform/fake/FakeMessagePort.h"

namespace {

class FakeEndpoint final : public MessagePort::Endpoint {
public:
    using Receivers = QHash<QString, std::shared_ptr<MessagePort::Receiver>>;
    FakeEndpoint(std::weak_ptr<Receivers> receivers, QString name)
        : m_receivers(std::move(receivers))
        , m_name(std::move(name)) {}
    ~FakeEndpoint() override {
        if (const auto receivers = m_receivers.lock())
            receivers->remove(m_name);
    }
    QString name() const override { return m_name; }

private:
    std::weak_ptr<Receivers> m_receivers;
    QString m_name;
};

} // namespace

std::unique_ptr<MessagePort::Endpoint> FakeMessagePort::listen(const QString& name,
                                                               Receiver receiver) {
    if (refuseListening || m_receivers->contains(name))
        return nullptr;
    m_receivers->insert(name, std::make_shared<Receiver>(std::move(receiver)));
    return std::make_unique<FakeEndpoint>(m_receivers, name);
}

MessagePort::SendResult FakeMessagePort::send(const QString& name, const QByteArray& payload) {
    sent.append({name, payload});
    const auto receiver = m_receivers->value(name);
    if (!receiver)
        return SendResult::NoEndpoint;
    (*receiver)(payload);
    return SendResult::Sent;
}
