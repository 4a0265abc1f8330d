#pragma once

#include "platform/UserDefaults.h"

#include <QFileSystemWatcher>

// Settings in a JSON file ($XDG_CONFIG_HOME/Kestrune/defaults.json by default), written
// atomically on every change and reloaded when another program changes the file.
class JsonFileUserDefaults final : public UserDefaults {
public:
    explicit JsonFileUserDefaults(QString path = defaultPath(), QObject* parent = nullptr);
    static QString defaultPath();
    QString path() const { return m_path; }

protected:
    void persist(const QJsonObject& values) override;

private:
    void reload();
    void watch();

    QString m_path;
    QFileSystemWatcher m_watcher;
};
