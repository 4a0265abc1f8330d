#include "platform/linux/JsonFileUserDefaults.h"

#include "model/Log.h"

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

void JsonFileUserDefaults::persist(const QJsonObject& values, const QString& changedKey) {
    m_unsaved.insert(changedKey, values.contains(changedKey)
                                     ? std::optional<QJsonValue>(values.value(changedKey))
                                     : std::nullopt);
    // Merged into what is on disk now, so an outside edit not yet reloaded is not lost.
    if (const std::optional<QJsonObject> onDisk = readFile())
        saveUnsaved(*onDisk);
    watch();
}

std::optional<QJsonObject> JsonFileUserDefaults::parse(const QByteArray& bytes, QString& problem) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        problem = QStringLiteral("the file does not hold a JSON object");
        return std::nullopt;
    }
    return document.object();
}

std::optional<QJsonObject> JsonFileUserDefaults::readFile() {
    QFile file(m_path);
    if (!file.exists())
        return QJsonObject{};
    QString problem;
    std::optional<QJsonObject> values;
    if (!file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    else
        values = parse(file.readAll(), problem);
    if (values) {
        if (m_warned)
            qCInfo(lcApp).noquote() << "Settings file" << m_path << "is readable again";
        m_warned = false;
        return values;
    }
    if (!m_warned)
        qCWarning(lcApp).noquote()
            << "Settings file" << m_path << "cannot be read (" + problem + ")."
            << "Tessarine keeps its last good settings and will not write the file until it"
            << "is fixed; changes made meanwhile are saved then.";
    m_warned = true;
    return std::nullopt;
}

QJsonObject JsonFileUserDefaults::withUnsaved(QJsonObject onDisk) const {
    for (auto change = m_unsaved.cbegin(); change != m_unsaved.cend(); ++change) {
        if (change.value())
            onDisk.insert(change.key(), *change.value());
        else
            onDisk.remove(change.key());
    }
    return onDisk;
}

void JsonFileUserDefaults::saveUnsaved(const QJsonObject& onDisk) {
    if (m_unsaved.isEmpty())
        return;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(withUnsaved(onDisk)).toJson(QJsonDocument::Indented)) < 0 ||
        !file.commit()) {
        qCWarning(lcApp).noquote()
            << "Could not save settings to" << m_path << ":" << file.errorString();
        return; // kept for the next change or reload
    }
    m_unsaved.clear();
}

void JsonFileUserDefaults::reload() {
    watch();
    const std::optional<QJsonObject> onDisk = readFile();
    if (!onDisk)
        return; // half-written or hand-edited badly: keep the last good values
    const QJsonObject merged = withUnsaved(*onDisk);
    saveUnsaved(*onDisk);
    replaceAll(merged);
}

void JsonFileUserDefaults::watch() {
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
}
