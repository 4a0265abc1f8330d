#include "model/RelativeTime.h"

#include <algorithm>
#include <cmath>

namespace {

QString counted(qint64 count, const char* unit) {
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
}

// "in …" / "… ago", with the named forms for single days, weeks, months and years.
QString phrase(qint64 count, const char* unit, const char* lastName, const char* nextName,
               bool future) {
    if (count == 1 && lastName)
        return QString::fromLatin1(future ? nextName : lastName);
    const QString amount = counted(count, unit);
    return future ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

} // namespace

QString RelativeTime::ago(std::optional<TimePoint> time, TimePoint now) {
    if (!time)
        return QStringLiteral("a while ago");
    const double seconds = std::chrono::duration<double>(now - *time).count();
    const bool future = seconds < 0;
    const double span = std::fabs(seconds);
    const auto whole = [span](double unit) { return static_cast<qint64>(std::floor(span / unit)); };
    if (span < 1)
        return QStringLiteral("now");
    if (span < 60)
        return phrase(whole(1), "second", nullptr, nullptr, future);
    if (span < 3600)
        return phrase(whole(60), "minute", nullptr, nullptr, future);
    if (span < 86400)
        return phrase(whole(3600), "hour", nullptr, nullptr, future);
    if (span < 7 * 86400)
        return phrase(whole(86400), "day", "yesterday", "tomorrow", future);
    if (span < 30 * 86400)
        return phrase(whole(7 * 86400), "week", "last week", "next week", future);
    if (span < 365 * 86400)
        return phrase(whole(30 * 86400), "month", "last month", "next month", future);
    return phrase(whole(365 * 86400), "year", "last year", "next year", future);
}

QString RelativeTime::compact(std::optional<TimePoint> time, TimePoint now) {
    if (!time)
        return {};
    // A time a little ahead (clocks of other processes) reads as now.
    const double span = std::max(0.0, std::chrono::duration<double>(now - *time).count());
    const auto unit = [span](double seconds, char suffix) {
        return QString::number(static_cast<qint64>(std::floor(span / seconds))) + QChar(suffix);
    };
    if (span < 60)
        return QStringLiteral("now");
    if (span < 3600)
        return unit(60, 'm');
    if (span < 86400)
        return unit(3600, 'h');
    if (span < 7 * 86400)
        return unit(86400, 'd');
    if (span < 365 * 86400)
        return unit(7 * 86400, 'w');
    return unit(365 * 86400, 'y');
}
