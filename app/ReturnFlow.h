#pragma once

#include "model/ContextRecord.h"

#include <functional>

class ContextStore;
class StateMachine;
class UserDefaults;
class Workspace;

// Takes the user back to a loop: the downloads folder for a finished download, an AI
// session's own window, the browser tab, the stored return actions in rank order, then the
// loop's window, its application, or launching it. The first way that works ends it.
class ReturnFlow {
public:
    struct Dependencies {
        Workspace& workspace;
        const UserDefaults& settings;
        // Each may answer null: the flow does without (no store, no engine).
        std::function<ContextStore*()> store;
        std::function<StateMachine*()> stateMachine;
        // Brings a loop's browser tab to the front; false when nothing can.
        std::function<bool(const QString& contextID, const QString& url)> focusTab;
        std::function<bool(const QString& bundleID)> isBrowser;
        std::function<QString()> downloadsFolder;
        std::function<TimePoint()> now;
    };

    explicit ReturnFlow(Dependencies dependencies);

    // True when some way back worked.
    bool open(const ContextRecord& loop);
    // Runs one stored action (an address of a browser loop opens in that browser); a failed
    // one is marked invalid.
    bool performReturnAction(const ReturnActionRecord& action);

private:
    bool openSession(const ContextRecord& loop);
    bool openInBrowser(const ContextRecord& loop, const QList<ReturnActionRecord>& actions);
    bool openInThatBrowser(const QString& bundleID, const QString& address);
    void dismissIfReady(const ContextRecord& loop);
    void markInvalid(const ReturnActionRecord& action);

    Dependencies m_dependencies;
};
