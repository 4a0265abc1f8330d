#pragma once

#include <QString>

// The per-user lock that keeps a second Tessarine from running on the same database: an
// exclusive flock(2) on a file in the user's private runtime folder. The kernel releases it
// when the process ends, however it ends, so a crash never leaves a stale lock behind.
class InstanceLock {
public:
    enum class State {
        Held,          // this process is the one instance
        HeldByAnother, // another process holds it
        Unavailable,   // the lock file could not be opened (errorString says why)
    };

    explicit InstanceLock(const QString& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return m_state; }
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
    State m_state = State::Unavailable;
    QString m_error;
};
