#pragma once

#include "model/GroupedLoops.h"

#include <QString>

// What the tray icon says: the count of loops worth attention ("also open" ones are not
// counted), or that capture is paused. Tray hosts on Linux show no text beside an icon, so
// the count becomes a badge and the tooltip.
struct StatusButton {
    bool paused = false;
    int count = 0;

    static StatusButton from(const GroupedLoops& loops, bool paused) {
        return {paused, static_cast<int>(loops.openCount())};
    }
    // " 3", or empty (no loops, or paused).
    QString title() const {
        return paused || count < 1 ? QString() : QStringLiteral(" %1").arg(count);
    }
    // The badge drawn into the icon: the count, at most "99+"; empty when there is none.
    QString badge() const {
        if (paused || count < 1)
            return {};
        return count > 99 ? QStringLiteral("99+") : QString::number(count);
    }
    QString toolTip() const {
        if (paused)
            return QStringLiteral("Tessarine is paused");
        return count < 1 ? QStringLiteral("Tessarine")
                         : QStringLiteral("Tessarine — %1 open").arg(count);
    }
    bool operator==(const StatusButton&) const = default;
};
