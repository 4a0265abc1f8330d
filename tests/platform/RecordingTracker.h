#pragma once

#include "engine/FocusTracker.h"

#include <QCoreApplication>
#include <QStringList>

// A focus tracker on a workspace that reads every title and writes down its events as
// "kind bundle title".
struct RecordingTracker {
    explicit RecordingTracker(Workspace& workspace)
        : tracker(workspace, QCoreApplication::applicationPid()) {
        tracker.onEvent = [this](const FocusEvent& event) {
            events.append(FocusEvent::rawValue(event.kind) + u' ' + event.bundleID + u' ' +
                          event.windowTitle.value_or(u"-"_qs));
        };
        tracker.mayReadTitle = [](const QString&) { return true; };
        tracker.start();
    }
    FocusTracker tracker;
    QStringList events;
};
