#include "platform/linux/InotifyDirectoryWatcher.h"

#include "model/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr quint32 kEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                            IN_DELETE | IN_ATTRIB | IN_DELETE_SELF;

class InotifyWatch final : public DirectoryWatcher::Watch {
public:
    InotifyWatch(int fd, double latencySeconds, DirectoryWatcher::Callback changed, bool recursive)
        : m_fd(fd)
        , m_recursive(recursive)
        , m_changed(std::move(changed))
        , m_notifier(fd, QSocketNotifier::Read) {
        m_flush.setSingleShot(true);
        m_flush.setInterval(static_cast<int>(latencySeconds * 1000));
        QObject::connect(&m_flush, &QTimer::timeout, [this] { flush(); });
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { readEvents(); });
    }
    ~InotifyWatch() override {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    // Watches `directory` and everything below it; reports files found there when asked
    // (a directory that appears may already hold files written before its watch existed).
    void addTree(const QString& directory, bool reportExisting) {
        if (!addDirectory(directory) || !m_recursive)
            return;
        QDirIterator entries(directory,
                             QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = entries.next();
            const QFileInfo info = entries.fileInfo();
            if (info.isDir() && !info.isSymLink())
                addDirectory(path);
            else if (reportExisting && info.isFile())
                note(path);
        }
    }

private:
    bool addDirectory(const QString& directory) {
        const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), kEvents);
        if (wd < 0) {
            if (errno == ENOSPC && !m_warnedLimit) {
                m_warnedLimit = true;
                qCWarning(lcDetector).noquote()
                    << "inotify watch limit reached (fs.inotify.max_user_watches); new folders"
                    << "below" << Log::privateArg(directory) << "are not followed";
            }
            return false;
        }
        m_directories.insert(wd, directory);
        return true;
    }

    void readEvents() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                return;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                handle(*event);
            }
        }
    }

    void handle(const inotify_event& event) {
        if (event.mask & IN_IGNORED) {
            m_directories.remove(event.wd);
            return;
        }
        const QString directory = m_directories.value(event.wd);
        if (directory.isEmpty() || event.len == 0)
            return;
        const QString path = directory + QLatin1Char('/') + QFile::decodeName(event.name);
        if ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)) && m_recursive)
            addTree(path, true);
        note(path);
    }

    void note(const QString& path) {
        m_pending.insert(path);
        if (!m_flush.isActive())
            m_flush.start();
    }

    void flush() {
        QStringList paths(m_pending.cbegin(), m_pending.cend());
        m_pending.clear();
        paths.sort();
        if (!paths.isEmpty())
            m_changed(paths);
    }

    int m_fd;
    bool m_recursive;
    DirectoryWatcher::Callback m_changed;
    QSocketNotifier m_notifier;
    QTimer m_flush;
    QHash<int, QString> m_directories;
    QSet<QString> m_pending;
    bool m_warnedLimit = false;
};

} // namespace

std::unique_ptr<DirectoryWatcher::Watch> InotifyDirectoryWatcher::watch(const QString& root,
                                                                        double latencySeconds,
                                                                        Callback changed,
                                                                        Depth depth) {
    if (!QFileInfo(root).isDir())
        return nullptr;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto watch = std::make_unique<InotifyWatch>(fd, latencySeconds, std::move(changed),
                                                depth == Depth::Tree);
    watch->addTree(QDir::cleanPath(root), false);
    return watch;
}
