#include "store/SeedFile.h"

#include "store/StoreError.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString requiredText(const QJsonObject& object, const QString& key, qsizetype index) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        throw StoreFileError(
            QStringLiteral("Default exclusions: rule %1 has no text \"%2\"").arg(index).arg(key));
    return value.toString();
}

} // namespace

SeedFile SeedFile::decode(const QByteArray& json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw StoreFileError(QStringLiteral("Default exclusions are not valid JSON: %1")
                                 .arg(parseError.errorString()));
    const QJsonValue rules = document.object().value(QStringLiteral("rules"));
    if (!document.isObject() || !rules.isArray())
        throw StoreFileError(QStringLiteral("Default exclusions have no \"rules\" list"));

    SeedFile seed;
    const QJsonArray list = rules.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list.at(i).isObject())
            throw StoreFileError(
                QStringLiteral("Default exclusions: rule %1 is not an object").arg(i));
        const QJsonObject rule = list.at(i).toObject();
        seed.rules.append(Rule{requiredText(rule, QStringLiteral("scope"), i),
                               requiredText(rule, QStringLiteral("matcher"), i),
                               requiredText(rule, QStringLiteral("mode"), i)});
    }
    return seed;
}

SeedFile SeedFile::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw StoreFileError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
    return decode(file.readAll());
}
