#pragma once

#include "model/GroupedLoops.h"

#include <QStringList>

class ContextStore;
class UserDefaults;

// The engine's state as text, for KESTRUNE_DEBUG_DUMP: the loops by group (with each one's
// latest detector signal), the detectors that run, and every setting in force with its
// source. Titles, labels and notes print as "<private>" unless KESTRUNE_DEBUG_TITLES is "1".
namespace StateDump {
QString text(const GroupedLoops& loops, ContextStore* store, const QStringList& detectorKinds,
             const UserDefaults& settings, TimePoint now);
}
