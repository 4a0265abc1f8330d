#include "app/WindowMatcher.h"

#include "model/TitleKey.h"

namespace WindowMatcher {

std::optional<qsizetype> index(const QList<std::optional<QString>>& titles,
                               const std::optional<QString>& identity) {
    const std::optional<QString> key = TitleKey::normalize(identity);
    if (!key)
        return std::nullopt;
    QList<std::optional<QString>> keys;
    keys.reserve(titles.size());
    for (const std::optional<QString>& title : titles)
        keys.append(title ? TitleKey::normalize(title) : std::nullopt);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys[i] == key)
            return i;
    }
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys[i] && (keys[i]->startsWith(*key) || key->startsWith(*keys[i])))
            return i;
    }
    return std::nullopt;
}

} // namespace WindowMatcher
