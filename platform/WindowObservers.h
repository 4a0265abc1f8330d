#pragma once

#include "platform/Workspace.h"

#include <QMultiHash>
#include <functional>
#include <memory>

// The callbacks that follow the windows of each application, for Workspace backends. A
// handle unregisters its callback when destroyed, also after the backend is gone.
class WindowObservers {
public:
    std::unique_ptr<Workspace::WindowObservation> add(qint64 pid, std::function<void()> changed) {
        auto callback = std::make_shared<std::function<void()>>(std::move(changed));
        m_callbacks->insert(pid, callback);
        return std::make_unique<Handle>(m_callbacks, pid, callback);
    }
    void notify(qint64 pid) const {
        const auto callbacks = m_callbacks->values(pid); // a callback may unregister itself
        for (const auto& callback : callbacks)
            (*callback)();
    }
    int count(qint64 pid) const { return static_cast<int>(m_callbacks->count(pid)); }

private:
    using Callbacks = QMultiHash<qint64, std::shared_ptr<std::function<void()>>>;

    class Handle final : public Workspace::WindowObservation {
    public:
        Handle(const std::shared_ptr<Callbacks>& callbacks, qint64 pid,
               std::shared_ptr<std::function<void()>> callback)
            : m_callbacks(callbacks)
            , m_pid(pid)
            , m_callback(std::move(callback)) {}
        ~Handle() override {
            if (const auto callbacks = m_callbacks.lock())
                callbacks->remove(m_pid, m_callback);
        }

    private:
        std::weak_ptr<Callbacks> m_callbacks;
        qint64 m_pid;
        std::shared_ptr<std::function<void()>> m_callback;
    };

    std::shared_ptr<Callbacks> m_callbacks = std::make_shared<Callbacks>();
};
