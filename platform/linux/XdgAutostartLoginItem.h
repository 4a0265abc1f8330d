#pragma once

#include "platform/LoginItem.h"

// Launch at login through an XDG autostart entry: $XDG_CONFIG_HOME/autostart/tessarine.desktop.
class XdgAutostartLoginItem final : public LoginItem {
public:
    explicit XdgAutostartLoginItem(QString executablePath,
                                   QString autostartFolder = defaultFolder());
    void registerMainApplication() override;
    void unregisterMainApplication() override;
    bool isRegistered() const override;
    QString entryPath() const;
    static QString defaultFolder();

private:
    QString m_executablePath;
    QString m_folder;
};
