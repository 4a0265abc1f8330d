#include "app/ReturnActionPerformer.h"

#include "platform/Workspace.h"

#include <QFileInfo>
#include <QUrl>

ReturnActionPerformer::ReturnActionPerformer(Workspace& workspace)
    : m_workspace(workspace) {}

bool ReturnActionPerformer::perform(const ReturnActionRecord& record) const {
    switch (record.kind) {
    case ReturnActionKind::OpenURL:
    case ReturnActionKind::DeepLink:
        return isAddress(record.payload) && m_workspace.openURL(record.payload);
    case ReturnActionKind::OpenFile:
        return QFileInfo::exists(record.payload) && m_workspace.openFile(record.payload);
    case ReturnActionKind::ActivateWindow:
        return m_workspace.activateApplication(record.payload);
    case ReturnActionKind::RunCommand:
    case ReturnActionKind::CopyText:
        return m_workspace.copyText(record.payload);
    }
    return false;
}

bool ReturnActionPerformer::isAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

SessionReturn SessionReturn::plan(const ContextRecord& record) {
    if (!record.isSession)
        return {};
    const Kind kind = record.detectorKind == u"claude_desktop" ? Kind::ClaudeDesktopSession
                      : record.detectorKind == u"codex"        ? Kind::CodexSession
                                                               : Kind::TerminalHosted;
    return {kind, record.bundleID, record.label};
}
