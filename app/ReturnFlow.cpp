#include "app/ReturnFlow.h"

#include "app/ReturnActionPerformer.h"
#include "app/WindowRaiser.h"
#include "detectors/DownloadsDetector.h"
#include "engine/StateMachine.h"
#include "platform/Workspace.h"
#include "store/ContextStore.h"

ReturnFlow::ReturnFlow(Dependencies dependencies)
    : m_dependencies(std::move(dependencies)) {}

void ReturnFlow::dismissIfReady(const ContextRecord& loop) {
    StateMachine* machine = m_dependencies.stateMachine();
    if (machine && loop.state == ContextState::Ready)
        machine->userDismiss(loop.id, m_dependencies.now());
}

void ReturnFlow::markInvalid(const ReturnActionRecord& action) {
    ContextStore* store = m_dependencies.store();
    if (!store)
        return;
    try {
        store->setReturnActionValidity(action.id, false, m_dependencies.now());
    } catch (const std::exception&) {
        // the next return tries it again
    }
}

bool ReturnFlow::openSession(const ContextRecord& loop) {
    Workspace& workspace = m_dependencies.workspace;
    const SessionReturn plan = SessionReturn::plan(loop);
    const TerminalWindowRaiser terminals(workspace, m_dependencies.settings);
    switch (plan.kind) {
    case SessionReturn::Kind::ClaudeDesktopSession: {
        const bool opened = workspace.activateApplication(plan.bundleID) ||
                            workspace.launchApplication(plan.bundleID);
        dismissIfReady(loop);
        return opened;
    }
    case SessionReturn::Kind::CodexSession: {
        const bool raised = WindowRaiser(workspace).raiseWindow(plan.bundleID, plan.label) ||
                            terminals.raise(plan.label) ||
                            workspace.activateApplication(plan.bundleID);
        if (raised)
            dismissIfReady(loop);
        return raised;
    }
    case SessionReturn::Kind::TerminalHosted: {
        const bool raised = terminals.raise(plan.label);
        if (raised)
            dismissIfReady(loop);
        return raised;
    }
    case SessionReturn::Kind::Standard:
        break;
    }
    return false;
}

bool ReturnFlow::openInBrowser(const ContextRecord& loop,
                               const QList<ReturnActionRecord>& actions) {
    std::optional<QString> address;
    for (const ReturnActionRecord& action : actions) {
        if (action.kind == ReturnActionKind::OpenURL && action.isValid) {
            address = action.payload;
            break;
        }
    }
    if (!address)
        return false;
    if (m_dependencies.focusTab && m_dependencies.focusTab(loop.id, *address))
        return true;
    return openInThatBrowser(loop.bundleID, *address);
}

bool ReturnFlow::openInThatBrowser(const QString& bundleID, const QString& address) {
    // The tab is gone: the address opens in that same browser, not the default one.
    return ReturnActionPerformer::isAddress(address) &&
           m_dependencies.workspace.launchApplication(bundleID, address);
}

bool ReturnFlow::open(const ContextRecord& loop) {
    Workspace& workspace = m_dependencies.workspace;
    if (loop.bundleID == DownloadsDetector::downloadsBundleID) {
        const bool opened = workspace.openFile(m_dependencies.downloadsFolder());
        if (StateMachine* machine = m_dependencies.stateMachine())
            machine->userDismiss(loop.id, m_dependencies.now());
        return opened;
    }
    if (loop.isSession)
        return openSession(loop);

    QList<ReturnActionRecord> actions;
    if (ContextStore* store = m_dependencies.store()) {
        try {
            actions = store->returnActions(loop.id);
        } catch (const std::exception&) {
            // raising the window still works
        }
    }
    if (m_dependencies.isBrowser && m_dependencies.isBrowser(loop.bundleID) &&
        openInBrowser(loop, actions))
        return true;

    const ReturnActionPerformer performer(workspace);
    for (const ReturnActionRecord& action : actions) {
        if (!performer.perform(action)) {
            markInvalid(action);
            continue;
        }
        if (action.kind == ReturnActionKind::OpenURL || action.kind == ReturnActionKind::OpenFile ||
            action.kind == ReturnActionKind::DeepLink)
            return true;
        break; // the clipboard or an activation alone does not bring the window back
    }
    const std::optional<QString> identity = loop.label ? loop.label : loop.titleKey;
    return WindowRaiser(workspace).raiseWindow(loop.bundleID, identity) ||
           workspace.activateApplication(loop.bundleID) ||
           workspace.launchApplication(loop.bundleID);
}

bool ReturnFlow::performReturnAction(const ReturnActionRecord& action) {
    ContextStore* store = m_dependencies.store();
    if (action.kind == ReturnActionKind::OpenURL && store && m_dependencies.isBrowser) {
        std::optional<ContextRecord> loop;
        try {
            loop = store->context(action.contextID);
        } catch (const std::exception&) {
        }
        if (loop && m_dependencies.isBrowser(loop->bundleID) &&
            openInThatBrowser(loop->bundleID, action.payload))
            return true;
    }
    if (ReturnActionPerformer(m_dependencies.workspace).perform(action))
        return true;
    markInvalid(action);
    return false;
}
