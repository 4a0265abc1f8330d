#include "model/SnoozeDuration.h"

#include <QRegularExpression>

std::optional<double> SnoozeDuration::seconds(const QString& duration) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})([smhd]?)$"));
    const QRegularExpressionMatch match = pattern.match(duration.trimmed().toLower());
    if (!match.hasMatch())
        return std::nullopt;
    const double amount = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    const double scale = unit == u"m" ? 60 : unit == u"h" ? 3600 : unit == u"d" ? 86400 : 1;
    if (amount <= 0)
        return std::nullopt;
    return amount * scale;
}

bool SnoozeDuration::isUntilTomorrow(const QString& duration) {
    return duration.trimmed().compare(u"tomorrow", Qt::CaseInsensitive) == 0;
}
