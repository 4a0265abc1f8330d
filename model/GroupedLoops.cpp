#include "model/GroupedLoops.h"

#include <QSet>
#include <algorithm>
#include <vector>

namespace {

bool isWorthSurfacing(const ContextRecord& record) {
    return record.hasWorkEvidence || record.isPinned || (record.note && !record.note->isEmpty()) ||
           (record.topic && !record.topic->isEmpty());
}

TimePoint backgroundedOrChanged(const ContextRecord& record) {
    return record.backgroundedAt.value_or(record.stateChangedAt);
}

} // namespace

GroupedLoops GroupedLoops::group(QList<ContextRecord> records, TimePoint asOf) {
    // Records are large: the groups are sorted as keys, and each record is moved once, into
    // its place. A key is (time, rank, position); newest time first, then lower rank (working
    // loops before stale ones among the also-open), then the order given.
    struct Key {
        TimePoint at;
        int rank;
        qsizetype index;
    };
    std::vector<Key> ready;
    std::vector<Key> backgrounded;
    std::vector<Key> stale;
    std::vector<Key> alsoOpen;
    QSet<QString> seen;
    seen.reserve(records.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const ContextRecord& record = std::as_const(records)[i];
        if (seen.contains(record.id))
            continue;
        seen.insert(record.id);
        if (record.snoozeUntil && *record.snoozeUntil > asOf)
            continue;
        switch (record.state) {
        case ContextState::Backgrounded:
        case ContextState::Waiting:
            (isWorthSurfacing(record) ? backgrounded : alsoOpen)
                .push_back({backgroundedOrChanged(record), 0, i});
            break;
        case ContextState::Stale:
            if (isWorthSurfacing(record))
                stale.push_back({record.stateChangedAt, 0, i});
            else
                alsoOpen.push_back({backgroundedOrChanged(record), 1, i});
            break;
        case ContextState::Ready:
            ready.push_back({record.readyAt.value_or(record.stateChangedAt), 0, i});
            break;
        case ContextState::Active:
            break;
        }
    }
    // A list shared with the caller is copied from record by record, not detached whole.
    const bool shared = !records.isDetached();
    const auto place = [&records, shared](std::vector<Key>& keys, QList<ContextRecord>& into) {
        std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
            return a.at != b.at ? a.at > b.at : a.rank < b.rank;
        });
        into.reserve(static_cast<qsizetype>(keys.size()));
        for (const Key& key : keys) {
            if (shared)
                into.append(std::as_const(records)[key.index]);
            else
                into.append(std::move(records[key.index]));
        }
    };
    GroupedLoops grouped;
    place(ready, grouped.ready);
    place(backgrounded, grouped.backgrounded);
    place(stale, grouped.stale);
    place(alsoOpen, grouped.alsoOpen);
    return grouped;
}
