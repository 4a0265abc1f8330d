#pragma once

// A local web chat for the browser tests: the page asks the server for the chat's state and
// shows its stop control while it is "generating".
#include <QTcpServer>
#include <QTcpSocket>

inline const QByteArray kChatPage = R"(<!doctype html>
<html><head><title>ChatGPT - Trip plan</title></head><body>
<div data-message-author-role="user">Plan a trip to Lisbon</div>
<script>
setInterval(async () => {
  const state = await (await fetch('/state')).text();
  const stop = document.querySelector('[data-testid=stop-button]');
  if (state === 'generating' && !stop) {
    const button = document.createElement('button');
    button.dataset.testid = 'stop-button';
    button.textContent = 'Stop generating';
    document.body.appendChild(button);
  } else if (state !== 'generating' && stop) {
    stop.remove();
  }
}, 100);
</script></body></html>)";

// Serves the chat page and its state on a local port.
class PageServer {
public:
    PageServer() {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    QByteArray body = "not here";
                    QByteArray status = "404 Not Found";
                    if (request.startsWith("GET /chat ")) {
                        body = kChatPage;
                        status = "200 OK";
                    } else if (request.startsWith("GET /state ")) {
                        ++polls;
                        body = state;
                        status = "200 OK";
                    }
                    socket->write(
                        "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QString url() const { return u"http://127.0.0.1:%1/chat"_qs.arg(m_server.serverPort()); }

    QByteArray state = "idle";
    int polls = 0; // the page's script is running once it asks

private:
    QTcpServer m_server;
};
