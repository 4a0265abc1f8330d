#pragma once

#include <QString>

// Starting the application when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // Registers the application to start at login. Throws std::runtime_error on failure.
    virtual void registerMainApplication() = 0;
    // Stops starting it at login. Throws std::runtime_error on failure.
    virtual void unregisterMainApplication() = 0;
    virtual bool isRegistered() const = 0;
};
