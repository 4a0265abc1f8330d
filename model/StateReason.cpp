#include "model/StateReason.h"

#include <cmath>

namespace StateReason {

static QString wholeSeconds(double seconds) {
    return QString::number(static_cast<qint64>(std::trunc(seconds)));
}

QString staleAfter(double seconds) {
    return QStringLiteral("stale_after_") + wholeSeconds(seconds) + QLatin1Char('s');
}

QString workingStaleAfter(double seconds) {
    return QStringLiteral("working_stale_after_") + wholeSeconds(seconds) + QLatin1Char('s');
}

} // namespace StateReason
