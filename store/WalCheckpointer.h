#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Copies the write-ahead log back into the database on a thread of its own, so that no
// commit on the main thread pays for it (with SQLite's automatic checkpoint, one commit in
// a hundred stalled for milliseconds). The store asks after a commit that left the log
// long; the work runs on this thread's own connection, passively, once the store has been
// quiet for a moment (a checkpoint racing a burst of commits made some of them wait for
// locks), or at once when the log has grown very long. The log starts again from its
// beginning once all of it is copied.
class WalCheckpointer {
public:
    WalCheckpointer(QString databasePath, QByteArray key);
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

    static constexpr std::chrono::milliseconds kQuietFor{500};

    // Asks for a checkpoint once the store has been quiet for kQuietFor (urgent: at once);
    // requests made meanwhile are folded into one.
    void request(bool urgent);
    // Checkpoints that ran to the end (for tests and diagnostics).
    int completed() const { return m_completed.load(); }

private:
    void run();

    const QString m_path;
    const QByteArray m_key;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;                            // guarded by m_mutex
    bool m_urgent = false;                               // guarded by m_mutex
    std::chrono::steady_clock::time_point m_lastRequest; // guarded by m_mutex
    bool m_stopping = false;                             // guarded by m_mutex
    std::atomic<int> m_completed{0};
    std::thread m_thread; // last: started once everything above exists
};
