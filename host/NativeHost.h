#pragma once

#include "host/NativeMessagingFrames.h"

#include <QJsonObject>
#include <QString>
#include <mutex>

class MessagePort;

// The bridge between the browser companion and Tessarine: sanitises and forwards each
// message, acknowledges it, and passes the application's focus requests to the browser.
class NativeHost {
public:
    // Output frames are written to `outputFd` (standard output).
    NativeHost(MessagePort& port, int outputFd, QString hostPortName);

    // Reads and handles messages until end of input or an invalid frame.
    void runReadLoop(const NativeMessagingFrames::ByteSource& input);
    // One message from the companion: forward what survives, then acknowledge.
    void handleMessage(const QJsonObject& message);
    // A payload the application sent to this host's endpoint.
    void handleFocusRequest(const QByteArray& payload);

    QString hostPortName() const { return m_hostPortName; }

private:
    void forward(const QJsonObject& payload);
    // Writes one whole frame; frames from different threads never interleave.
    void send(const QJsonObject& object);

    MessagePort& m_port;
    int m_outputFd;
    QString m_hostPortName;
    std::mutex m_outputLock;
};
