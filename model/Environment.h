#pragma once

#include <QString>

namespace Environment {
// Environment switches count only when their value is exactly "1".
bool isSwitchOn(const char* name);
} // namespace Environment
