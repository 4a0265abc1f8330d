#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Follows a directory tree: every file that is created, written, moved or removed anywhere
// below the root (including in subdirectories that appear later) is reported by path, in
// batches coalesced over a short latency, on the thread that started the watch.
class DirectoryWatcher {
public:
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    using Callback = std::function<void(const QStringList& paths)>;

    virtual ~DirectoryWatcher() = default;
    // Nothing when the root is not a directory that can be watched. Watching stops when the
    // handle is destroyed.
    virtual std::unique_ptr<Watch> watch(const QString& root, double latencySeconds,
                                         Callback changed) = 0;
};
