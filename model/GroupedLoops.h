#pragma once

#include "model/ContextRecord.h"

#include <QList>

// The open loops as the surfaces show them. Active and snoozed loops are in no list.
struct GroupedLoops {
    QList<ContextRecord> ready;
    QList<ContextRecord> backgrounded;
    QList<ContextRecord> stale;
    QList<ContextRecord> alsoOpen; // open but not worth surfacing

    // Loops shown as needing attention; `alsoOpen` is not counted.
    qsizetype openCount() const { return ready.size() + backgrounded.size() + stale.size(); }

    // Sorts a list of open loops (newest change first) into the four groups as of a time.
    static GroupedLoops group(QList<ContextRecord> records, TimePoint asOf);
};
