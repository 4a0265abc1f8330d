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
    enum class Depth { Tree, FolderOnly };

    // Nothing when the root is not a directory that can be watched. Watching stops when the
    // handle is destroyed. With `FolderOnly`, only the root's own entries are followed
    // (folders created in it are reported but not entered).
    virtual std::unique_ptr<Watch> watch(const QString& root, double latencySeconds,
                                         Callback changed, Depth depth = Depth::Tree) = 0;
};
