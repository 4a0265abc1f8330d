#pragma once

#include <QObject>

// Tells when the user steps away from the machine (screen locked or asleep, session
// inactive) and comes back. Signals are emitted on the main thread.
class SessionMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void away();
    void returned();
};
