#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until `done` holds or `milliseconds` have passed; true when it held.
// The loop sleeps until an event arrives (a short timer re-checks conditions that change
// outside the loop, such as files or other processes).
template <typename Predicate> bool waitFor(Predicate done, int milliseconds = 5000) {
    const QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Runs the event loop for `milliseconds`, for checking that nothing more arrives.
inline void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}
