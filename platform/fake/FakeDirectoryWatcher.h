#pragma once

#include "platform/DirectoryWatcher.h"

#include <QHash>
#include <QSet>
#include <memory>

// Watches nothing on disk: tests announce changes under a root by hand.
class FakeDirectoryWatcher final : public DirectoryWatcher {
public:
    std::unique_ptr<Watch> watch(const QString& root, double latencySeconds, Callback changed,
                                 Depth depth = Depth::Tree) override;
    // Delivers `paths` to every live watch of `root`, at once.
    void announce(const QString& root, const QStringList& paths);
    int watchCount(const QString& root) const;
    // Every watch ever made on `root`, including those destroyed since.
    int watchesMade(const QString& root) const { return m_made.value(root); }
    // Roots that report as missing (no watch is created for them).
    void setMissing(const QString& root, bool missing);

private:
    using Callbacks = QMultiHash<QString, std::shared_ptr<Callback>>;
    std::shared_ptr<Callbacks> m_callbacks = std::make_shared<Callbacks>();
    QSet<QString> m_missing;
    QHash<QString, int> m_made;
};
