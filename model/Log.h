#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcFocus)
Q_DECLARE_LOGGING_CATEGORY(lcDetector)

namespace Log {
// Window titles, labels and paths are printed as "<private>" unless KESTRUNE_DEBUG_TITLES is "1".
QString privateArg(const QString& value);
// Routine traces are written only when KESTRUNE_VERBOSE is "1".
bool verbose();
} // namespace Log
