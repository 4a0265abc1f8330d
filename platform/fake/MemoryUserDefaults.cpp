#include "platform/fake/MemoryUserDefaults.h"

void MemoryUserDefaults::setRaw(const QString& key, const QJsonValue& value) {
    QJsonObject all = values();
    all.insert(key, value);
    replaceAll(all);
}
