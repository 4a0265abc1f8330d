// Test helper: sends one message and prints the outcome, so a test can try it as another
// user.
//   tessarine-test-send FOLDER NAME PAYLOAD   through UnixDatagramMessagePort
//   tessarine-test-send --raw PATH PAYLOAD    a bare datagram to a socket path
#include "platform/linux/UnixDatagramMessagePort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 4)
        return 2;
    if (std::strcmp(argv[1], "--raw") == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, argv[2], sizeof address.sun_path - 1);
        const bool sent = ::sendto(fd, argv[3], std::strlen(argv[3]), 0,
                                   reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0;
        std::printf("%s\n", sent ? "sent" : std::strerror(errno));
        ::close(fd);
        return 0;
    }
    UnixDatagramMessagePort port(QString::fromLocal8Bit(argv[1]));
    const auto result = port.send(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]));
    const char* names[] = {"sent", "no-endpoint", "timed-out", "failed"};
    std::printf("%s\n", names[static_cast<int>(result)]);
    return 0;
}
