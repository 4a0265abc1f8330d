#pragma once

#include "detectors/Detector.h"

#include <memory>

class ContextStore;
class StateMachine;
class UserDefaults;
class Workspace;

// How the application wires detectors to the loop-tracking core: the signals of one
// detector kind (the state machine held weakly; store failures swallowed) and the lookups
// every detector may make.
namespace DetectorSignalBinding {
DetectorSignals signalsFor(const QString& kind, std::weak_ptr<StateMachine> machine,
                           ContextStore& store, const UserDefaults& settings);
DetectorEnvironment environment(ContextStore& store, const Workspace& workspace);
} // namespace DetectorSignalBinding
