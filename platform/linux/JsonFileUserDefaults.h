#pragma once

#include "platform/UserDefaults.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QJsonValue>
#include <optional>

// Settings in a JSON file ($XDG_CONFIG_HOME/Kestrune/defaults.json by default), written
// atomically on every change and reloaded when another program changes the file.
//
// A file that exists but does not parse is the user's (hand-edited, or an editor's
// half-written save) and is never written over: changes made meanwhile stay in memory and
// are merged into the file once it parses again.
class JsonFileUserDefaults final : public UserDefaults {
public:
    explicit JsonFileUserDefaults(QString path = defaultPath(), QObject* parent = nullptr);
    static QString defaultPath();
    QString path() const { return m_path; }
    // The settings a file's bytes hold; nothing, with `problem` set, when they are not a
    // JSON object.
    static std::optional<QJsonObject> parse(const QByteArray& bytes, QString& problem);
    // Changes waiting for the file to become readable again.
    int unsavedChanges() const { return static_cast<int>(m_unsaved.size()); }

protected:
    void persist(const QJsonObject& values, const QString& changedKey) override;

private:
    // The file's object; nullopt when it exists but cannot be read or parsed (warned once).
    std::optional<QJsonObject> readFile();
    void reload();
    QJsonObject withUnsaved(QJsonObject onDisk) const;
    // Writes the file's values with the unsaved changes applied, if there are any.
    void saveUnsaved(const QJsonObject& onDisk);
    void watch();

    QString m_path;
    QFileSystemWatcher m_watcher;
    QHash<QString, std::optional<QJsonValue>> m_unsaved; // nullopt = removed
    bool m_warned = false;
};
