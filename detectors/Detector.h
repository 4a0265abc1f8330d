#pragma once

#include "model/FocusEvent.h"
#include "model/ContextRecord.h"
#include "model/ReturnActionKind.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// Where a detector reports, bound to its kind by the registry's factory. Main thread only.
struct DetectorSignals {
    using Detail = std::optional<QString>;

    std::function<void(const QString& contextID, const Detail& detail, TimePoint at)> pending;
    std::function<void(const QString& contextID, const Detail& detail, TimePoint at)> ready;
    std::function<void(const QString& contextID, const Detail& detail, TimePoint at)> readyQuiet;
    std::function<std::optional<QString>(const QString& bundleID,
                                         const std::optional<QString>& label, TimePoint at)>
        claim;
    // Optional: an empty function means the member is absent.
    std::function<std::optional<QString>(const QString& bundleID,
                                         const std::optional<QString>& label,
                                         const QString& titleKey, TimePoint at)>
        claimSession;
    std::function<void(const QString& contextID, const QList<ReturnActionSuggestion>& suggestions,
                       TimePoint at)>
        suggestReturnActions;
    std::function<void(const QString& contextID, const QString& kind, const QString& locator,
                       const std::optional<QString>& title, TimePoint at)>
        attachDocumentRef;
    std::function<void(const QString& contextID, const QString& icon)> setIcon;
    std::function<void(const QString& contextID, const QString& text)> summarize;
    // Names a loop that has no label yet (never-track title rules apply).
    std::function<void(const QString& contextID, const QString& label)> labelIfUnlabelled;
};
using DetectorSignalsPtr = std::shared_ptr<const DetectorSignals>;

// What detectors may look up. Main thread only.
struct DetectorEnvironment {
    std::function<std::optional<ContextRecord>(const QString& bundleID)> openContext;
    std::function<QList<ContextRecord>()> openContexts;
    std::function<std::optional<QString>()> frontmostBundleID;
    // Whether a loop a detector remembers still exists and is not dismissed (absent: assume so).
    std::function<bool(const QString& contextID)> loopIsOpen;

    bool isOpen(const std::optional<QString>& contextID) const {
        return contextID && (!loopIsOpen || loopIsOpen(*contextID));
    }
};

// A detector's start or observe failed; it is disabled for the rest of the run.
class DetectorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One kind of completion detector.
class Detector {
public:
    virtual ~Detector() = default;
    virtual QString kind() const = 0;
    // Whether focus events of this application go to this detector.
    virtual bool handles(const QString& bundleID) const = 0;
    // May throw DetectorError.
    virtual void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                         const DetectorSignals& signals) = 0;
    // Called at registration and on every resume; keep the signals for later reports.
    // May throw DetectorError.
    virtual void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) {
        Q_UNUSED(signals);
        Q_UNUSED(environment);
    }
    // Called when capture pauses; must tolerate being called when nothing runs.
    virtual void stop() {}
};
