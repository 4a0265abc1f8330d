#pragma once

#include "model/ContextState.h"
#include "model/Time.h"
#include "model/ReturnActionKind.h"

#include <QList>
#include <QString>
#include <optional>

// One loop as read back, joined with its application.
struct ContextRecord {
    QString id;
    QString bundleID;
    std::optional<QString> displayName;
    std::optional<QString> label;
    std::optional<QString> titleKey;
    std::optional<QString> note;
    ContextState state = ContextState::Active;
    bool isPinned = false;
    TimePoint createdAt;
    TimePoint stateChangedAt;
    std::optional<TimePoint> backgroundedAt;
    std::optional<TimePoint> readyAt;
    std::optional<TimePoint> dismissedAt;
    std::optional<TimePoint> snoozeUntil;
    std::optional<QString> interruptedByBundle;
    std::optional<QString> interruptedByName;
    std::optional<QString> favicon;
    std::optional<QString> topic;
    std::optional<QString> promptLine;
    bool hasWorkEvidence = false;
    bool isSession = false;
    std::optional<QString> detectorKind;
};

// The latest detector state of a loop.
struct DetectorSignalRecord {
    QString detectorKind;
    QString signal;
    std::optional<QString> detail;
    TimePoint observedAt;
};

// The document or page a loop is about.
struct DocumentRefRecord {
    QString kind;
    std::optional<QString> locator;
    std::optional<QString> title;
};

// A stored return action.
struct ReturnActionRecord {
    QString id;
    QString contextID;
    ReturnActionKind kind;
    QString payload;
    std::optional<QString> label;
    QString provenance;
    qint64 rank = 0;
    bool isValid = true;
    std::optional<TimePoint> lastValidatedAt;
    TimePoint createdAt;
};

// Everything the detail view of one loop needs.
struct CapsuleRecord {
    ContextRecord context;
    std::optional<DetectorSignalRecord> latestSignal;
    QList<ReturnActionRecord> returnActions;
    std::optional<DocumentRefRecord> documentRef;
};

// One recent focus event, for diagnostics.
struct EventSummary {
    QString bundleID;
    QString type;
};

// The oldest state change among open loops that can age: those that go stale after the
// stale threshold (backgrounded, ready) and those that go stale after the working one.
struct AgeingClocks {
    std::optional<TimePoint> oldestBackgroundedOrReady;
    std::optional<TimePoint> oldestWaiting;
};

// A privacy rule as the settings list shows it.
struct PrivacyRuleRecord {
    QString id;
    QString scope;
    QString matcher;
    QString mode;
    bool isDefault = false;
};

// How long stored data is kept.
struct RetentionSettings {
    qint64 ttlDays = 7;
    bool exemptPinned = true;
};

// One entry of the audit log of privacy-relevant actions.
struct AuditEntry {
    QString id;
    QString action;
    std::optional<QString> detail;
    TimePoint occurredAt;
};
