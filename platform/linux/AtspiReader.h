#pragma once

#include "platform/linux/AtspiControls.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>

// Reads applications' controls on a thread of its own (with its own connection to the
// accessibility bus), so a large or slow interface never holds up the main thread; results
// come back on the main thread in the order they were asked. After destruction nothing is
// delivered.
class AtspiReader final : public QObject {
    Q_OBJECT
public:
    AtspiReader();
    ~AtspiReader() override;

    void read(qint64 pid, std::function<void(const AtspiControls::Reading&)> deliver);

private:
    QThread m_thread;
    QObject* m_worker = nullptr; // lives in m_thread
};
