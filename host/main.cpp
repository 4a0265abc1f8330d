// kestrune-native-host: started by the browser for each connection of the Tessarine
// Companion extension. Reads the companion's messages on standard input, forwards what
// survives sanitising to Tessarine, answers each message on standard output, and relays
// Tessarine's focus requests to the extension. Logs nothing; exits 0 when its input ends.

#include "host/NativeHost.h"
#include "platform/MessagePortNames.h"
#include "platform/linux/UnixDatagramMessagePort.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

qsizetype readFully(int fd, char* buffer, qsizetype size) {
    qsizetype got = 0;
    while (got < size) {
        const ssize_t result = ::read(fd, buffer + got, static_cast<std::size_t>(size - got));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            break;
        got += result;
    }
    return got;
}

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

int main(int argc, char* argv[]) {
    // Nothing may reach standard error, and a closed output pipe is not a crash.
    qInstallMessageHandler(silence);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);

    const QString portName = MessagePortNames::host(QCoreApplication::applicationPid());
    UnixDatagramMessagePort port;
    NativeHost host(port, STDOUT_FILENO, portName);
    // Without an endpoint of its own the host still works; focus requests cannot reach it.
    auto endpoint = port.listen(
        portName, [&host](const QByteArray& payload) { host.handleFocusRequest(payload); });

    std::thread reader([&host] {
        host.runReadLoop(
            [](char* buffer, qsizetype size) { return readFully(STDIN_FILENO, buffer, size); });
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    reader.join();
    endpoint.reset();
    return 0;
}
