#include "store/WalCheckpointer.h"

#include "model/Log.h"
#include "store/Database.h"
#include "store/StoreError.h"

#include <memory>
#include <sqlcipher.h>

namespace {
constexpr int kBusyTimeoutMs = 2000;
}

WalCheckpointer::WalCheckpointer(QString databasePath, QByteArray key)
    : m_path(std::move(databasePath))
    , m_key(std::move(key))
    , m_thread([this] { run(); }) {}

WalCheckpointer::~WalCheckpointer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void WalCheckpointer::request(bool urgent) {
    {
        std::lock_guard lock(m_mutex);
        m_requested = true;
        m_urgent = m_urgent || urgent;
        m_lastRequest = std::chrono::steady_clock::now();
    }
    m_wake.notify_one();
}

void WalCheckpointer::run() {
    std::unique_ptr<Database> db; // opened at the first request: deriving the key costs
    bool warned = false;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_requested || m_stopping; });
            // Then until the commits pause (every request moves the moment on).
            while (!m_stopping && !m_urgent &&
                   !m_wake.wait_until(lock, m_lastRequest + kQuietFor,
                                      [this] { return m_stopping || m_urgent; })) {
                if (std::chrono::steady_clock::now() >= m_lastRequest + kQuietFor)
                    break;
            }
            if (m_stopping)
                return;
            m_requested = false;
            m_urgent = false;
        }
        try {
            if (!db) {
                db = std::make_unique<Database>(m_path);
                db->applyKey(m_key);
                sqlite3_busy_timeout(db->handle(), kBusyTimeoutMs);
            }
            Statement checkpoint(*db, QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
            // (busy, frames in the log, frames copied): done when all were copied.
            if (checkpoint.step() && checkpoint.int64(1) == checkpoint.int64(2))
                ++m_completed;
            warned = false;
        } catch (const StoreError& error) {
            // The next commit asks again; the store's own writes are unaffected.
            if (!warned)
                qCWarning(lcStore).noquote()
                    << "The database log could not be folded back:" << error.message();
            warned = true;
            db.reset();
        }
    }
}
