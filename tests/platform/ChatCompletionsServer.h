#pragma once

// A model server of the test's own on one address: it lists models and answers chat
// completions the way local servers do, and records every connection and request.
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

class ChatCompletionsServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QByteArray host;
        QByteArray body;
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        bool never = false; // keeps the connection open without an answer
    };

    QStringList models{QStringLiteral("test-model")};
    QString answer = QStringLiteral("A Topic From The Model");
    // Answers chat completions; by default with `answer`.
    std::function<Reply(const Request&)> chat;
    QList<Request> requests;
    int connections = 0;

    explicit ChatCompletionsServer(const QHostAddress& address = QHostAddress::LocalHost,
                                   quint16 port = 0) {
        listen(address, port);
    }
    bool listen(const QHostAddress& address, quint16 port) {
        m_server = std::make_unique<QTcpServer>();
        QObject::connect(m_server.get(), &QTcpServer::newConnection, this,
                         [this] { acceptConnections(); });
        return m_server->listen(address, port);
    }
    void close() { m_server.reset(); }
    quint16 port() const { return m_server ? m_server->serverPort() : 0; }
    QString address() const {
        const QHostAddress host = m_server->serverAddress();
        return host.protocol() == QAbstractSocket::IPv6Protocol
                   ? QStringLiteral("[%1]:%2").arg(host.toString()).arg(port())
                   : QStringLiteral("%1:%2").arg(host.toString()).arg(port());
    }
    QList<Request> requestsTo(const QByteArray& path) const {
        QList<Request> found;
        for (const Request& request : requests)
            if (request.path.endsWith(path))
                found.append(request);
        return found;
    }

    static Reply json(const QJsonObject& object, int status = 200) {
        return {status, QJsonDocument(object).toJson(QJsonDocument::Compact), {}, false};
    }
    Reply chatAnswer(const QString& content) const {
        return json(
            {{u"object"_qs, u"chat.completion"_qs},
             {u"choices"_qs,
              QJsonArray{QJsonObject{{u"index"_qs, 0},
                                     {u"message"_qs, QJsonObject{{u"role"_qs, u"assistant"_qs},
                                                                 {u"content"_qs, content}}}}}}});
    }

private:
    void acceptConnections() {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            ++connections;
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this,
                             [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }
    void readFrom(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        qsizetype length = 0;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.first().trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length")
                length = value.toLongLong();
            else if (name == "host")
                request.host = value;
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        const Reply reply = respondTo(request);
        if (reply.never)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " X\r\n";
        head += "Content-Type: application/json\r\nConnection: close\r\n";
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        for (const auto& [name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        socket->write(head + "\r\n" + reply.body);
        socket->disconnectFromHost();
    }
    Reply respondTo(const Request& request) {
        if (request.method == "GET" && request.path.endsWith("/models")) {
            QJsonArray data;
            for (const QString& model : models)
                data.append(QJsonObject{{u"id"_qs, model}, {u"object"_qs, u"model"_qs}});
            return json({{u"object"_qs, u"list"_qs}, {u"data"_qs, data}});
        }
        if (request.method == "POST" && request.path.endsWith("/chat/completions"))
            return chat ? chat(request) : chatAnswer(answer);
        return {404, "{}", {}, false};
    }

    std::unique_ptr<QTcpServer> m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};
