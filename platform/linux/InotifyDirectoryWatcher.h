#pragma once

#include "platform/DirectoryWatcher.h"

// DirectoryWatcher over inotify: one instance per watch, a watch descriptor per directory,
// new subdirectories added as they appear. When the system's watch limit is reached it
// says so once in the log and keeps following what it already watches.
class InotifyDirectoryWatcher final : public DirectoryWatcher {
public:
    std::unique_ptr<Watch> watch(const QString& root, double latencySeconds, Callback changed,
                                 Depth depth = Depth::Tree) override;
};
