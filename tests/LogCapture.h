#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects every Qt log line written while it lives ("category: text"), then restores the
// previous handler. One at a time.
class LogCapture {
public:
    LogCapture() {
        s_lines = &m_lines;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const {
        QMutexLocker lock(&s_mutex);
        return m_lines;
    }
    int count(const QString& containing) const {
        int n = 0;
        for (const QString& line : lines())
            n += line.contains(containing) ? 1 : 0;
        return n;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& text) {
        QMutexLocker lock(&s_mutex);
        if (s_lines)
            s_lines->append(QString::fromUtf8(context.category ? context.category : "default") +
                            QStringLiteral(": ") + text);
    }

    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList* s_lines = nullptr;
};
