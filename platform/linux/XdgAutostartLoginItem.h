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
    // The command to start at login for this executable: an installed one through its
    // <prefix>/bin link (stable across upgrades), any other as it is.
    static QString launcherPath(const QString& executablePath);

private:
    QString m_executablePath;
    QString m_folder;
};
