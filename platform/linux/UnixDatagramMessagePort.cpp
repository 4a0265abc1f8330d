#include "platform/linux/UnixDatagramMessagePort.h"

#include <QDir>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kSendTimeoutSeconds = 1;

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

std::optional<sockaddr_un> addressOf(const QString& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= static_cast<qsizetype>(sizeof(address.sun_path)))
        return std::nullopt;
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    return address;
}

int openDatagramSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        // As large as the kernel allows, up to the largest message (it caps silently).
        int size = UnixDatagramMessagePort::kMaxMessageBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    return fd;
}

// Makes sure `folder` is a directory of ours that nobody else can enter.
bool ensurePrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

class DatagramEndpoint final : public MessagePort::Endpoint {
public:
    DatagramEndpoint(QString name, QString path, int fd, MessagePort::Receiver receiver)
        : m_name(std::move(name))
        , m_path(std::move(path))
        , m_fd(fd)
        , m_receiver(std::move(receiver))
        , m_notifier(fd, QSocketNotifier::Read) {
        struct stat info {};
        if (::stat(QFile::encodeName(m_path).constData(), &info) == 0)
            m_inode = info.st_ino;
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { drain(); });
    }

    ~DatagramEndpoint() override {
        m_notifier.setEnabled(false);
        // Free the name, unless another endpoint has taken it over since.
        struct stat info {};
        const QByteArray path = QFile::encodeName(m_path);
        if (::stat(path.constData(), &info) == 0 && info.st_ino == m_inode)
            ::unlink(path.constData());
    }

    QString name() const override { return m_name; }

private:
    void drain() {
        for (;;) {
            // The size of the next datagram, without taking it.
            const ssize_t size =
                ::recv(m_fd.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
            if (size < 0)
                return;
            QByteArray payload(size, Qt::Uninitialized);
            const ssize_t got =
                ::recv(m_fd.get(), payload.data(), static_cast<std::size_t>(size), MSG_DONTWAIT);
            if (got < 0)
                return;
            payload.truncate(got);
            m_receiver(payload);
        }
    }

    QString m_name;
    QString m_path;
    FileDescriptor m_fd;
    MessagePort::Receiver m_receiver;
    QSocketNotifier m_notifier;
    ino_t m_inode = 0;
};

} // namespace

UnixDatagramMessagePort::UnixDatagramMessagePort()
    : UnixDatagramMessagePort(defaultFolder()) {}

UnixDatagramMessagePort::UnixDatagramMessagePort(QString folder)
    : m_folder(std::move(folder)) {}

QString UnixDatagramMessagePort::defaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/kestrune");
    return QDir::tempPath() + QStringLiteral("/kestrune-") + QString::number(::geteuid());
}

std::optional<QString> UnixDatagramMessagePort::folder() const {
    if (!ensurePrivateFolder(m_folder))
        return std::nullopt;
    return m_folder;
}

std::optional<QString> UnixDatagramMessagePort::socketPath(const QString& name) const {
    // Names are ours ("app.kestrune…"); anything that could leave the folder is refused.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return std::nullopt;
    const std::optional<QString> base = folder();
    if (!base)
        return std::nullopt;
    return *base + QLatin1Char('/') + name;
}

std::unique_ptr<MessagePort::Endpoint> UnixDatagramMessagePort::listen(const QString& name,
                                                                       Receiver receiver) {
    const std::optional<QString> path = socketPath(name);
    if (!path)
        return nullptr;
    const std::optional<sockaddr_un> address = addressOf(*path);
    if (!address)
        return nullptr;
    FileDescriptor fd(openDatagramSocket());
    if (fd.get() < 0)
        return nullptr;
    const QByteArray encoded = QFile::encodeName(*path);

    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        if (errno != EADDRINUSE)
            return nullptr;
        // A socket file is there: take it over only if nobody listens on it any more.
        FileDescriptor probe(openDatagramSocket());
        if (probe.get() >= 0 && ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&*address),
                                          sizeof *address) == 0)
            return nullptr;
        if (errno != ECONNREFUSED)
            return nullptr;
        ::unlink(encoded.constData());
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
            return nullptr;
    }
    ::chmod(encoded.constData(), 0600);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    return std::make_unique<DatagramEndpoint>(name, *path, fd.release(), std::move(receiver));
}

MessagePort::SendResult UnixDatagramMessagePort::send(const QString& name,
                                                      const QByteArray& payload) {
    const std::optional<QString> path = socketPath(name);
    if (!path)
        return SendResult::NoEndpoint;
    const std::optional<sockaddr_un> address = addressOf(*path);
    if (!address)
        return SendResult::NoEndpoint;
    FileDescriptor fd(openDatagramSocket());
    if (fd.get() < 0)
        return SendResult::Failed;
    // A missing or abandoned endpoint is known at once.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return (errno == ENOENT || errno == ECONNREFUSED) ? SendResult::NoEndpoint
                                                          : SendResult::Failed;
    timeval timeout{kSendTimeoutSeconds, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const ssize_t sent = ::send(fd.get(), payload.constData(),
                                static_cast<std::size_t>(payload.size()), MSG_NOSIGNAL);
    if (sent == payload.size())
        return SendResult::Sent;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return SendResult::TimedOut;
    if (sent < 0 && errno == ECONNREFUSED)
        return SendResult::NoEndpoint;
    return SendResult::Failed;
}
