#include "platform/fake/FakeDirectoryWatcher.h"

namespace {

class FakeWatch final : public DirectoryWatcher::Watch {
public:
    FakeWatch(
        std::weak_ptr<QMultiHash<QString, std::shared_ptr<DirectoryWatcher::Callback>>> callbacks,
        QString root, std::shared_ptr<DirectoryWatcher::Callback> callback)
        : m_callbacks(std::move(callbacks))
        , m_root(std::move(root))
        , m_callback(std::move(callback)) {}
    ~FakeWatch() override {
        if (const auto callbacks = m_callbacks.lock())
            callbacks->remove(m_root, m_callback);
    }

private:
    std::weak_ptr<QMultiHash<QString, std::shared_ptr<DirectoryWatcher::Callback>>> m_callbacks;
    QString m_root;
    std::shared_ptr<DirectoryWatcher::Callback> m_callback;
};

} // namespace

std::unique_ptr<DirectoryWatcher::Watch> FakeDirectoryWatcher::watch(const QString& root, double,
                                                                     Callback changed, Depth) {
    if (m_missing.contains(root))
        return nullptr;
    ++m_made[root];
    auto callback = std::make_shared<Callback>(std::move(changed));
    m_callbacks->insert(root, callback);
    return std::make_unique<FakeWatch>(m_callbacks, root, callback);
}

void FakeDirectoryWatcher::announce(const QString& root, const QStringList& paths) {
    const auto callbacks = m_callbacks->values(root);
    for (const auto& callback : callbacks)
        (*callback)(paths);
}

int FakeDirectoryWatcher::watchCount(const QString& root) const {
    return static_cast<int>(m_callbacks->count(root));
}

void FakeDirectoryWatcher::setMissing(const QString& root, bool missing) {
    if (missing)
        m_missing.insert(root);
    else
        m_missing.remove(root);
}
