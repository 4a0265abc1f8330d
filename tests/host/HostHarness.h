#pragma once

#include "Wait.h"

#include "platform/MessagePortNames.h"
#include "platform/linux/UnixDatagramMessagePort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <optional>

// The real kestrune-native-host in a private runtime folder, with the test playing both
// the browser (its standard input and output) and, optionally, Tessarine (the endpoint the
// host forwards to).
class HostHarness {
public:
    explicit HostHarness(bool applicationRunning = true) {
        if (applicationRunning)
            m_application =
                m_port.listen(MessagePortNames::tabContext(), [this](const QByteArray& p) {
                    forwarded.append(QJsonDocument::fromJson(p).object());
                    rawForwarded.append(p);
                });
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_host.setProcessEnvironment(environment);
        m_host.start(QStringLiteral(KESTRUNE_NATIVE_HOST),
                     {QStringLiteral("chrome-extension://x/")});
        m_host.waitForStarted();
    }
    ~HostHarness() {
        if (m_host.state() != QProcess::NotRunning) {
            m_host.kill();
            m_host.waitForFinished();
        }
    }

    static QByteArray header(quint32 length) {
        QByteArray bytes(4, '\0');
        std::memcpy(bytes.data(), &length, 4);
        return bytes;
    }
    void writeRaw(const QByteArray& bytes) { m_host.write(bytes); }
    void send(const QByteArray& body) {
        writeRaw(header(static_cast<quint32>(body.size())) + body);
    }
    void send(const QJsonObject& message) {
        send(QJsonDocument(message).toJson(QJsonDocument::Compact));
    }

    // The next output frame, or nothing when none comes (or the stream is not a frame).
    std::optional<QJsonObject> reply(int timeoutMs = 5000) {
        if (!waitForBytes(4, timeoutMs))
            return std::nullopt;
        quint32 length = 0;
        std::memcpy(&length, m_output.constData(), 4);
        if (!waitForBytes(4 + static_cast<qsizetype>(length), timeoutMs))
            return std::nullopt;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(m_output.mid(4, length), &error);
        m_output.remove(0, 4 + length);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return QJsonObject{{QStringLiteral("unparsable"), true}};
        return document.object();
    }
    // Closes the host's input; returns its exit code (or -1 when it did not exit normally).
    int finish() {
        m_host.closeWriteChannel();
        return waitForExit();
    }
    int waitForExit() {
        if (!m_host.waitForFinished(10000))
            return -2;
        m_output += m_host.readAllStandardOutput();
        return m_host.exitStatus() == QProcess::NormalExit ? m_host.exitCode() : -1;
    }
    QByteArray unreadOutput() {
        m_output += m_host.readAllStandardOutput();
        return m_output;
    }
    QByteArray standardError() { return m_host.readAllStandardError(); }
    qint64 processID() const { return m_host.processId(); }
    QString hostPortName() const { return MessagePortNames::host(m_host.processId()); }
    MessagePort& port() { return m_port; }

    // Runs the event loop until `count` payloads were forwarded (or a bound passes).
    bool waitForForwarded(qsizetype count, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (forwarded.size() < count && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return forwarded.size() >= count;
    }
    // Runs the event loop a while, for checking that nothing more arrives.
    void settle() { runEventLoopFor(200); }

    QList<QJsonObject> forwarded;
    QList<QByteArray> rawForwarded;

private:
    bool waitForBytes(qsizetype count, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (m_output.size() < count && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_host.waitForReadyRead(10);
            m_output += m_host.readAllStandardOutput();
        }
        return m_output.size() >= count;
    }

    QTemporaryDir m_runtime;
    UnixDatagramMessagePort m_port{m_runtime.path() + QStringLiteral("/kestrune")};
    std::unique_ptr<MessagePort::Endpoint> m_application;
    QProcess m_host;
    QByteArray m_output;
};
