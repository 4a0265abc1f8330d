#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// Whether the buttons a chat application shows form an approval prompt that may be answered
// from Tessarine ("Allow once" + "Deny"), and how a label reads. Labels match terms as
// case-insensitive substrings; deny is tested first, so "Don't allow" is never an approval;
// an approval that widens what is allowed ("Always allow", "… this session") is never
// pressed remotely.
namespace RemoteApproval {

enum class Kind { Approve, Deny, Other };

struct Pending {
    bool canApprove = false;
    bool canDeny = false;
    QStringList options = {};
    bool isActionable() const { return canApprove || canDeny || !options.isEmpty(); }
    bool operator==(const Pending&) const = default;
};

// The user's answer: approve, deny, or the n-th offered option.
struct Option {
    int index = 0;
};
using Response = std::variant<Option, Kind>;

const QStringList& defaultApprove();
const QStringList& defaultDeny();
const QStringList& escalatingMarkers();

// The user's extra terms (lower-cased), then the defaults.
QStringList resolvedApprove(const std::optional<QStringList>& custom);
QStringList resolvedDeny(const std::optional<QStringList>& custom);

bool isApprove(const QString& label, const QStringList& approve);
bool isDeny(const QString& label, const QStringList& deny);
bool isEscalating(const QString& label);
Kind classify(const QString& label, const QStringList& approve, const QStringList& deny);
std::optional<Pending> pending(const QStringList& labels, bool isGenerating,
                               const QStringList& approve, const QStringList& deny);

} // namespace RemoteApproval
