#include "model/RemoteApproval.h"

namespace RemoteApproval {

namespace {

bool containsAny(const QString& label, const QStringList& terms) {
    const QString lowered = label.toLower();
    for (const QString& term : terms) {
        if (!term.isEmpty() && lowered.contains(term))
            return true;
    }
    return false;
}

QStringList resolved(const std::optional<QStringList>& custom, const QStringList& defaults) {
    QStringList terms;
    for (const QString& term : custom.value_or(QStringList()))
        terms.append(term.toLower());
    return terms + defaults;
}

} // namespace

const QStringList& defaultApprove() {
    static const QStringList terms{QStringLiteral("allow"), QStringLiteral("approve"),
                                   QStringLiteral("grant"), QStringLiteral("authorize"),
                                   QStringLiteral("accept")};
    return terms;
}

const QStringList& defaultDeny() {
    static const QStringList terms{
        QStringLiteral("deny"),         QStringLiteral("reject"),
        QStringLiteral("decline"),      QStringLiteral("block"),
        QStringLiteral("disallow"),     QStringLiteral("do not allow"),
        QStringLiteral("don't allow"),  QStringLiteral("don\u2019t allow"),
        QStringLiteral("keep existing")};
    return terms;
}

const QStringList& escalatingMarkers() {
    static const QStringList terms{
        QStringLiteral("always"),      QStringLiteral("every"),        QStringLiteral("auto-approve"),
        QStringLiteral("auto approve"), QStringLiteral("all future"),   QStringLiteral("all edits"),
        QStringLiteral("all changes"), QStringLiteral("all files"),    QStringLiteral("for the rest"),
        QStringLiteral("this session"), QStringLiteral("remember")};
    return terms;
}

QStringList resolvedApprove(const std::optional<QStringList>& custom) {
    return resolved(custom, defaultApprove());
}

QStringList resolvedDeny(const std::optional<QStringList>& custom) {
    return resolved(custom, defaultDeny());
}

bool isApprove(const QString& label, const QStringList& approve) {
    return containsAny(label, approve);
}

bool isDeny(const QString& label, const QStringList& deny) {
    return containsAny(label, deny);
}

bool isEscalating(const QString& label) {
    return containsAny(label, escalatingMarkers());
}

Kind classify(const QString& label, const QStringList& approve, const QStringList& deny) {
    if (isDeny(label, deny))
        return Kind::Deny;
    return isApprove(label, approve) ? Kind::Approve : Kind::Other;
}

std::optional<Pending> pending(const QStringList& labels, bool isGenerating,
                               const QStringList& approve, const QStringList& deny) {
    if (isGenerating || labels.isEmpty())
        return std::nullopt;
    bool denySeen = false;
    bool approveSeen = false;
    for (const QString& label : labels) {
        if (isDeny(label, deny))
            denySeen = true;
        else if (isApprove(label, approve) && !isEscalating(label))
            approveSeen = true;
    }
    if (!denySeen || !approveSeen)
        return std::nullopt;
    return Pending{true, true, {}};
}

} // namespace RemoteApproval
