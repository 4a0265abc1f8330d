#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <cmath>

std::optional<bool> UserDefaults::boolValue(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

std::optional<qint64> UserDefaults::integerValue(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QStringList> UserDefaults::stringListValue(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        list.append(item.toString());
    }
    return list;
}

void UserDefaults::setBool(const QString& key, bool value) {
    store(key, value);
}

void UserDefaults::setInteger(const QString& key, qint64 value) {
    store(key, value);
}

void UserDefaults::setString(const QString& key, const QString& value) {
    store(key, value);
}

void UserDefaults::setStringList(const QString& key, const QStringList& value) {
    store(key, QJsonArray::fromStringList(value));
}

void UserDefaults::remove(const QString& key) {
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    persist(m_values, key);
    Q_EMIT changed();
}

void UserDefaults::replaceAll(const QJsonObject& values) {
    if (values == m_values)
        return;
    m_values = values;
    Q_EMIT changed();
}

void UserDefaults::store(const QString& key, const QJsonValue& value) {
    if (m_values.value(key) == value)
        return;
    m_values.insert(key, value);
    persist(m_values, key);
    Q_EMIT changed();
}
