#include "platform/linux/JsonFileUserDefaults.h"

#include "core/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

JsonFileUserDefaults::JsonFileUserDefaults(QString path, QObject* parent)
    : UserDefaults(parent)
    , m_path(std::move(path)) {
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    reload();
    // The folder is watched too: an atomic rewrite replaces the file, which ends a watch on it.
    QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { reload(); });
    QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { reload(); });
    watch();
}

QString JsonFileUserDefaults::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kestrune/defaults.json");
}

void JsonFileUserDefaults::persist(const QJsonObject& values) {
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(values).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        qCWarning(lcApp).noquote()
            << "Could not save settings to" << m_path << ":" << file.errorString();
    watch();
}

void JsonFileUserDefaults::reload() {
    watch();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            return; // unreadable for now: keep what we have
        replaceAll({});
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // Half-written or hand-edited badly: keep the last good values.
        qCWarning(lcApp).noquote() << "Ignoring unreadable settings file" << m_path;
        return;
    }
    replaceAll(document.object());
}

void JsonFileUserDefaults::watch() {
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
}
