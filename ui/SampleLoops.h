#pragma once

#include "model/Time.h"

#include <QStringList>

class ContextStore;

// A fixed set of loops of every kind (a ready AI chat, a working build, a backgrounded mail,
// an earlier document, a coding-agent session, and applications merely open), written into a
// store for snapshots and demonstrations. Answers the ids in that order.
namespace SampleLoops {
QStringList write(ContextStore& store, TimePoint now);
}
