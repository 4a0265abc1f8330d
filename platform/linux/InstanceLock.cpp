#include "platform/linux/InstanceLock.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString& path)
    : m_path(path) {
    const QByteArray encoded = QFile::encodeName(path);
    m_fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_state = State::Held;
        return;
    }
    const int error = errno;
    m_state = error == EWOULDBLOCK ? State::HeldByAnother : State::Unavailable;
    m_error = QString::fromLocal8Bit(std::strerror(error));
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}
