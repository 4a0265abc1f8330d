#include "platform/linux/DesktopEntryExec.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

namespace DesktopEntryExec {

namespace {

// The value escapes of the file format itself (\s, \n, \t, \r, \\), applied when reading.
QString unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        if (next == u's')
            out.append(u' ');
        else if (next == u'n')
            out.append(u'\n');
        else if (next == u't')
            out.append(u'\t');
        else if (next == u'r')
            out.append(u'\r');
        else if (next == u'\\')
            out.append(u'\\');
        else
            out.append(c).append(next);
    }
    return out;
}

struct Token {
    QString text;
    bool quoted = false;
};

std::optional<QList<Token>> tokenize(const QString& exec) {
    QList<Token> tokens;
    Token current;
    bool inToken = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == u'"') {
                inQuotes = false;
            } else if (c == u'\\' && i + 1 < exec.size() &&
                       QStringView(u"\"`$\\").contains(exec.at(i + 1))) {
                current.text.append(exec.at(++i));
            } else {
                current.text.append(c);
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inToken)
                tokens.append(current);
            current = Token{};
            inToken = false;
            continue;
        }
        if (c == u'"') {
            inQuotes = true;
            inToken = true;
            current.quoted = true;
            continue;
        }
        // Characters a shell would act on should be quoted; since nothing here goes through
        // a shell, an unquoted one is taken as it is.
        current.text.append(c);
        inToken = true;
    }
    if (inQuotes)
        return std::nullopt;
    if (inToken)
        tokens.append(current);
    return tokens;
}

} // namespace

std::optional<QStringList> arguments(const Entry& entry, const std::optional<QString>& target) {
    const std::optional<QList<Token>> tokens = tokenize(entry.exec);
    if (!tokens || tokens->isEmpty())
        return std::nullopt;
    QString file; // %f wants a local path
    if (target) {
        const QUrl url(*target);
        file = url.isLocalFile() ? url.toLocalFile() : (url.scheme().isEmpty() ? *target : "");
    }
    QStringList arguments;
    for (const Token& token : *tokens) {
        const QString& text = token.text;
        if (text == u"%u" || text == u"%U") {
            if (target)
                arguments.append(*target);
            continue;
        }
        if (text == u"%f" || text == u"%F") {
            if (!file.isEmpty())
                arguments.append(file);
            continue;
        }
        if (text == u"%i") {
            if (entry.icon && !entry.icon->isEmpty())
                arguments << QStringLiteral("--icon") << *entry.icon;
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i) != u'%' || i + 1 == text.size()) {
                expanded.append(text.at(i));
                continue;
            }
            const QChar code = text.at(++i);
            if (code == u'%')
                expanded.append(u'%');
            else if (code == u'c')
                expanded.append(entry.name.value_or(QString()));
            else if (code == u'k')
                expanded.append(entry.path);
            // %d %D %n %N %v %m are deprecated, and a list code inside a word is invalid:
            // both are dropped.
        }
        if (!expanded.isEmpty() || token.quoted)
            arguments.append(expanded);
    }
    if (arguments.isEmpty() || arguments.constFirst().isEmpty())
        return std::nullopt;
    return arguments;
}

std::optional<QHash<QString, QString>> mainGroup(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QHash<QString, QString> keys;
    bool inMainGroup = false;
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inMainGroup && equals > 0)
            keys.insert(line.left(equals).trimmed(), unescapeValue(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

std::optional<Entry> read(const QString& path) {
    const std::optional<QHash<QString, QString>> keys = mainGroup(path);
    if (!keys)
        return std::nullopt;
    const auto optional = [&keys](const char* key) -> std::optional<QString> {
        const auto found = keys->constFind(QLatin1String(key));
        return found == keys->cend() ? std::nullopt : std::optional<QString>(*found);
    };
    Entry entry{keys->value(QStringLiteral("Exec")), optional("Name"), optional("Icon"), path,
                keys->value(QStringLiteral("DBusActivatable")) == u"true"};
    if (!keys->contains(QStringLiteral("Exec")) && !entry.dbusActivatable)
        return std::nullopt;
    return entry;
}

QString busName(const Entry& entry) {
    QString name = QFileInfo(entry.path).fileName();
    name.chop(QStringLiteral(".desktop").size());
    return name;
}

QString objectPath(const Entry& entry) {
    return u'/' + busName(entry).replace(u'.', u'/').replace(u'-', u'_');
}

} // namespace DesktopEntryExec
