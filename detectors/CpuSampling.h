#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

// What the CPU samplers of the watch and native-AI detectors read, and their timers.
namespace CpuSampling {

// The first running process of an application, by bundle id.
using RunningPID = std::function<std::optional<qint64>(const QString& bundleID)>;
// A process's CPU time so far in nanoseconds; nothing when it is gone.
using CpuProvider = std::function<std::optional<quint64>(qint64 pid)>;

// Share of one core used over the interval: 1.0 is one core busy the whole time.
inline double fraction(quint64 deltaNanos, double intervalSeconds) {
    return static_cast<double>(deltaNanos) / 1'000'000'000.0 / intervalSeconds;
}

struct StopAndDeleteLater {
    void operator()(QTimer* timer) const {
        timer->stop();
        timer->deleteLater(); // the timer may be the one whose tick is running
    }
};
using Timer = std::unique_ptr<QTimer, StopAndDeleteLater>;

// A repeating timer, first firing after one interval; its ticks stop with `context`.
inline Timer startTimer(QObject* context, double intervalSeconds, std::function<void()> tick) {
    Timer timer(new QTimer);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(intervalSeconds * 1000));
    QObject::connect(timer.get(), &QTimer::timeout, context, std::move(tick));
    timer->start();
    return timer;
}

} // namespace CpuSampling
