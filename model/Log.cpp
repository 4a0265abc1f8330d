#include "model/Log.h"

#include "model/Environment.h"

Q_LOGGING_CATEGORY(lcApp, "app.kestrune.app")
Q_LOGGING_CATEGORY(lcStore, "app.kestrune.store")
Q_LOGGING_CATEGORY(lcFocus, "app.kestrune.focus")
Q_LOGGING_CATEGORY(lcDetector, "app.kestrune.detector")

QString Log::privateArg(const QString& value) {
    if (Environment::isSwitchOn("KESTRUNE_DEBUG_TITLES"))
        return value;
    return QStringLiteral("<private>");
}

bool Log::verbose() {
    return Environment::isSwitchOn("KESTRUNE_VERBOSE");
}
