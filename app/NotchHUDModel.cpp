#include "app/NotchHUDModel.h"

#include "model/Graphemes.h"
#include "model/LoopDisplayText.h"

#include <algorithm>

namespace {

using NotchHUDModel::Status;

TimePoint backgroundedOrChanged(const ContextRecord& loop) {
    return loop.backgroundedAt.value_or(loop.stateChangedAt);
}

// Most recent first, stable.
QList<ContextRecord> ordered(QList<ContextRecord> loops, TimePoint (*key)(const ContextRecord&)) {
    std::stable_sort(
        loops.begin(), loops.end(),
        [key](const ContextRecord& a, const ContextRecord& b) { return key(a) > key(b); });
    return loops;
}

QList<ContextRecord> withState(const QList<ContextRecord>& loops, ContextState state) {
    QList<ContextRecord> matching;
    for (const ContextRecord& loop : loops) {
        if (loop.state == state)
            matching.append(loop);
    }
    return matching;
}

QList<ContextRecord> working(const GroupedLoops& loops) {
    return ordered(withState(loops.backgrounded, ContextState::Waiting), backgroundedOrChanged);
}

} // namespace

std::optional<QString> NotchHUDModel::word(Status status) {
    switch (status) {
    case Status::Ready:
        return QStringLiteral("ready");
    case Status::Working:
        return QStringLiteral("working");
    case Status::Backgrounded:
        return std::nullopt;
    }
    return std::nullopt;
}

NotchHUDModel::Summary NotchHUDModel::summary(const GroupedLoops& loops) {
    return {static_cast<int>(loops.ready.size()), static_cast<int>(working(loops).size())};
}

NotchHUDModel::Lead NotchHUDModel::lead(const GroupedLoops& loops) {
    const QList<ContextRecord> busy = working(loops);
    const QList<ContextRecord> ready = ordered(loops.ready, [](const ContextRecord& loop) {
        return loop.readyAt.value_or(loop.stateChangedAt);
    });
    Lead lead;
    if (!busy.isEmpty())
        lead.working = busy.constFirst();
    if (!ready.isEmpty())
        lead.ready = ready.constFirst();
    lead.workingCount = static_cast<int>(busy.size());
    lead.readyCount = static_cast<int>(ready.size());
    return lead;
}

NotchHUDModel::Board NotchHUDModel::board(const GroupedLoops& loops, int limit) {
    Board board;
    for (const ContextRecord& loop : loops.ready)
        board.rows.append({loop, Status::Ready});
    for (const ContextRecord& loop : working(loops))
        board.rows.append({loop, Status::Working});
    const QList<ContextRecord> backgrounded =
        ordered(withState(loops.backgrounded, ContextState::Backgrounded), backgroundedOrChanged);
    const qsizetype room = std::max<qsizetype>(limit - board.rows.size(), 0);
    for (const ContextRecord& loop : backgrounded.mid(0, room))
        board.rows.append({loop, Status::Backgrounded});
    board.overflowCount =
        static_cast<int>(backgrounded.size() - std::min(room, backgrounded.size()));
    return board;
}

QString NotchHUDModel::displayedTask(const ContextRecord& loop) {
    const auto present = [](const std::optional<QString>& text) {
        return text && !text->isEmpty();
    };
    QString task;
    if (present(loop.promptLine))
        task = *loop.promptLine;
    else if (present(loop.topic))
        task = *loop.topic;
    else if (loop.note)
        task = *loop.note;
    else if (const auto title = LoopDisplay::cleanTitle(loop.label, loop.displayName))
        task = *title;
    else
        task = loop.displayName.value_or(loop.bundleID);
    return Graphemes::prefix(task, 30);
}

double NotchHUDModel::leadWidth(const Lead& lead) {
    const std::optional<ContextRecord>& record = lead.working ? lead.working : lead.ready;
    if (!record)
        return 0;
    return static_cast<double>(Graphemes::count(displayedTask(*record))) * 12 * 0.58 + 23;
}

double NotchHUDModel::trailingWidth(const Lead& lead) {
    if (lead.working) {
        const bool ready = lead.readyCount > 0;
        const bool more = lead.extraWorking() > 0;
        return ready ? (more ? 131 : 102) : (more ? 90 : 61);
    }
    if (lead.readyCount > 0) {
        const QString text = lead.readyCount == 1 ? QStringLiteral("ready")
                                                  : QStringLiteral("%1 ready").arg(lead.readyCount);
        return static_cast<double>(text.size()) * 11 * 0.58 + 30;
    }
    return 0;
}
