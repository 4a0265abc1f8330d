#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

// The user's settings: typed values (flag, integer, text, list of texts) under string keys.
// A value stored with another type reads as absent. Subclasses decide where values live.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> integerValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QStringList> stringListValue(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setString(const QString& key, const QString& value);
    void setStringList(const QString& key, const QStringList& value);
    void remove(const QString& key);

Q_SIGNALS:
    // After a change made here or found on disk.
    void changed();

protected:
    // Stores the values after a change of `changedKey` (absent from `values` when it was
    // removed); the default keeps them in memory only.
    virtual void persist(const QJsonObject& values, const QString& changedKey) {
        Q_UNUSED(values);
        Q_UNUSED(changedKey);
    }
    // Replaces every value (for a reload) and announces the change.
    void replaceAll(const QJsonObject& values);
    const QJsonObject& values() const { return m_values; }

private:
    void store(const QString& key, const QJsonValue& value);

    QJsonObject m_values;
};
