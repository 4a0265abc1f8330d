#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// Named local endpoints carrying one-way messages between Tessarine and its native-messaging
// hosts. A send to a name nobody listens on fails at once; a send gives up after one
// second; nothing is ever answered.
class MessagePort {
public:
    enum class SendResult {
        Sent,
        NoEndpoint, // nobody listens on that name
        TimedOut,   // the receiver did not take it within a second
        Failed,     // too large, or another error
    };

    // A listening endpoint; it stops listening and frees its name when destroyed.
    class Endpoint {
    public:
        virtual ~Endpoint() = default;
        virtual QString name() const = 0;
    };

    using Receiver = std::function<void(const QByteArray& payload)>;

    virtual ~MessagePort() = default;
    // Starts listening on `name`, calling `receiver` on this thread's event loop for each
    // message. Nothing when the name cannot be taken (for example a live endpoint holds it).
    virtual std::unique_ptr<Endpoint> listen(const QString& name, Receiver receiver) = 0;
    virtual SendResult send(const QString& name, const QByteArray& payload) = 0;
};
