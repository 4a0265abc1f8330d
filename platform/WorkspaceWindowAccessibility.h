#pragma once

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

// The window side of accessibility, read from the workspace (on Linux, X11: window titles
// come from the window system, not from AT-SPI). Trusted while windows can be read.
class WorkspaceWindowAccessibility final : public Accessibility {
public:
    explicit WorkspaceWindowAccessibility(Workspace& workspace);

    bool isProcessTrusted() const override { return m_workspace.canReadWindows(); }
    std::optional<AXValue> attribute(const AXElement& element, const QString& name) const override;
    bool performAction(const AXElement& element, const QString& action) override;
    std::unique_ptr<Observer> createObserver(qint64 pid, Callback callback) override;

private:
    std::optional<WindowInfo> window(const AXElement& element) const;

    Workspace& m_workspace;
};
