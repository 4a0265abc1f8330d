#pragma once

#include "detectors/Detector.h"

#include <functional>
#include <memory>

class ContextStore;
class StateMachine;
class UserDefaults;
class Workspace;

// How the application wires detectors to the loop-tracking core: the signals of one
// detector kind (the state machine held weakly; store failures swallowed) and the lookups
// every detector may make.
namespace DetectorSignalBinding {
// Asks for a loop's topic from its prompt, in the background.
using TopicRequest = std::function<void(const QString& contextID, const QString& prompt)>;

DetectorSignals signalsFor(const QString& kind, std::weak_ptr<StateMachine> machine,
                           ContextStore& store, const UserDefaults& settings,
                           TopicRequest requestTopic = {});
DetectorEnvironment environment(ContextStore& store, const Workspace& workspace);
} // namespace DetectorSignalBinding
