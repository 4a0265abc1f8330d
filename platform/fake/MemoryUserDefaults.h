#pragma once

#include "platform/UserDefaults.h"

// Settings that live only as long as the object: for tests and throwaway runs.
class MemoryUserDefaults final : public UserDefaults {
public:
    using UserDefaults::UserDefaults;
    // Sets a raw JSON value, including values of the wrong type.
    void setRaw(const QString& key, const QJsonValue& value);
};
