#include "model/Environment.h"

#include <QtGlobal>

bool Environment::isSwitchOn(const char* name) {
    return qgetenv(name) == "1";
}
