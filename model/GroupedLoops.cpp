#include "model/GroupedLoops.h"

#include <QSet>
#include <algorithm>

namespace {

bool isWorthSurfacing(const ContextRecord& record) {
    return record.hasWorkEvidence || record.isPinned || (record.note && !record.note->isEmpty()) ||
           (record.topic && !record.topic->isEmpty());
}

template <typename Key> void sortLatestFirst(QList<ContextRecord>& records, Key key) {
    std::stable_sort(
        records.begin(), records.end(),
        [&](const ContextRecord& a, const ContextRecord& b) { return key(a) > key(b); });
}

TimePoint backgroundedOrChanged(const ContextRecord& record) {
    return record.backgroundedAt.value_or(record.stateChangedAt);
}

} // namespace

GroupedLoops GroupedLoops::group(QList<ContextRecord> records, TimePoint asOf) {
    QSet<QString> seen;
    seen.reserve(records.size());
    QList<ContextRecord> working;
    QList<ContextRecord> stale;
    GroupedLoops grouped;
    for (ContextRecord& record : records) {
        if (seen.contains(record.id))
            continue;
        seen.insert(record.id);
        if (record.snoozeUntil && *record.snoozeUntil > asOf)
            continue;
        switch (record.state) {
        case ContextState::Backgrounded:
        case ContextState::Waiting:
            working.append(std::move(record));
            break;
        case ContextState::Stale:
            stale.append(std::move(record));
            break;
        case ContextState::Ready:
            grouped.ready.append(std::move(record));
            break;
        case ContextState::Active:
            break;
        }
    }

    sortLatestFirst(grouped.ready, [](const ContextRecord& record) {
        return record.readyAt.value_or(record.stateChangedAt);
    });
    for (ContextRecord& record : working)
        (isWorthSurfacing(record) ? grouped.backgrounded : grouped.alsoOpen)
            .append(std::move(record));
    for (ContextRecord& record : stale)
        (isWorthSurfacing(record) ? grouped.stale : grouped.alsoOpen).append(std::move(record));
    sortLatestFirst(grouped.backgrounded, backgroundedOrChanged);
    sortLatestFirst(grouped.stale,
                    [](const ContextRecord& record) { return record.stateChangedAt; });
    sortLatestFirst(grouped.alsoOpen, backgroundedOrChanged);
    return grouped;
}
