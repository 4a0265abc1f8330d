#pragma once

#include <QList>
#include <QString>

// The shipped default exclusions: {"rules": [{"scope", "matcher", "mode"}, ...]}.
struct SeedFile {
    struct Rule {
        QString scope;
        QString matcher;
        QString mode;
    };

    QList<Rule> rules;

    // Every key is required and must hold text; anything else throws StoreFileError.
    static SeedFile decode(const QByteArray& json);
    static SeedFile read(const QString& path);
};
