#pragma once

#include "model/ContextState.h"
#include "model/Time.h"

#include <QStringList>
#include <optional>

class ContextStore;

// Loops written straight into a store, as the engine would have left them: for snapshots,
// demonstrations and the views' tests.
namespace SampleLoops {

struct Loop {
    QString bundleID;
    QString name;
    QString title;
    ContextState state = ContextState::Backgrounded;
    TimePoint at; // when it reached that state
    std::optional<QString> note;
    std::optional<QString> topic;
    std::optional<QString> detectorKind; // a session of that kind
    bool pinned = false;
};

// Adds one loop; its id, or nothing when the store refused it (an excluded application).
std::optional<QString> add(ContextStore& store, const Loop& loop);

// A fixed set of every kind (a ready AI chat, a working build and agent session, a
// backgrounded mail, an earlier document, and applications merely open). Their ids.
QStringList write(ContextStore& store, TimePoint now);

} // namespace SampleLoops
