#include "platform/WorkspaceWindowAccessibility.h"

#include <QSet>

namespace {

const QString kWindows = QStringLiteral("AXWindows");
const QString kFocusedWindow = QStringLiteral("AXFocusedWindow");
const QString kTitle = QStringLiteral("AXTitle");
const QString kMinimized = QStringLiteral("AXMinimized");
const QString kRaise = QStringLiteral("AXRaise");
const QString kFocusedWindowChanged = QStringLiteral("AXFocusedWindowChanged");
const QString kWindowCreated = QStringLiteral("AXWindowCreated");
const QString kTitleChanged = QStringLiteral("AXTitleChanged");

// The window system reports one kind of change for an application's windows (focus moved,
// a window appeared, a title changed). It is delivered once, under the most specific
// notification registered.
class WorkspaceObserver final : public Accessibility::Observer {
public:
    WorkspaceObserver(Workspace& workspace, qint64 pid, Accessibility::Callback callback)
        : m_workspace(workspace)
        , m_pid(pid)
        , m_callback(std::move(callback)) {}

    bool addNotification(const AXElement& element, const QString& notification) override {
        const bool onApplication =
            element.role == AXElement::Role::Application &&
            (notification == kFocusedWindowChanged || notification == kWindowCreated);
        const bool onWindow =
            element.role == AXElement::Role::Window && notification == kTitleChanged;
        if (element.pid != m_pid || !(onApplication || onWindow))
            return false;
        if (!m_observation) {
            m_observation = m_workspace.observeWindows(m_pid, [this] { changed(); });
            if (!m_observation)
                return false;
        }
        m_registered.insert(notification);
        return true;
    }

private:
    void changed() {
        for (const QString& notification : {kTitleChanged, kFocusedWindowChanged, kWindowCreated}) {
            if (m_registered.contains(notification)) {
                m_callback(AXElement::application(m_pid), notification);
                return;
            }
        }
    }

    Workspace& m_workspace;
    qint64 m_pid;
    Accessibility::Callback m_callback;
    QSet<QString> m_registered;
    std::unique_ptr<Workspace::WindowObservation> m_observation;
};

} // namespace

WorkspaceWindowAccessibility::WorkspaceWindowAccessibility(Workspace& workspace)
    : m_workspace(workspace) {}

std::optional<WindowInfo> WorkspaceWindowAccessibility::window(const AXElement& element) const {
    if (element.role != AXElement::Role::Window)
        return std::nullopt;
    for (const WindowInfo& info : m_workspace.windows(element.pid)) {
        if (info.id == element.windowID)
            return info;
    }
    return std::nullopt;
}

std::optional<AXValue> WorkspaceWindowAccessibility::attribute(const AXElement& element,
                                                               const QString& name) const {
    if (!isProcessTrusted())
        return std::nullopt;
    if (element.role == AXElement::Role::Application) {
        if (name == kWindows) {
            QList<AXElement> list;
            for (const WindowInfo& info : m_workspace.windows(element.pid))
                list.append(AXElement::window(element.pid, info.id));
            return list;
        }
        if (name == kFocusedWindow) {
            const std::optional<quint64> id = m_workspace.focusedWindowID(element.pid);
            return id ? std::optional<AXValue>(AXElement::window(element.pid, *id)) : std::nullopt;
        }
        return std::nullopt;
    }
    const std::optional<WindowInfo> info = window(element);
    if (!info)
        return std::nullopt;
    if (name == kTitle)
        return info->title ? std::optional<AXValue>(*info->title) : std::nullopt;
    if (name == kMinimized)
        return info->isMinimized;
    return std::nullopt;
}

bool WorkspaceWindowAccessibility::performAction(const AXElement& element, const QString& action) {
    if (action != kRaise || !isProcessTrusted() || !window(element))
        return false;
    return m_workspace.raiseWindow(element.windowID);
}

std::unique_ptr<Accessibility::Observer>
WorkspaceWindowAccessibility::createObserver(qint64 pid, Callback callback) {
    if (!isProcessTrusted())
        return nullptr;
    return std::make_unique<WorkspaceObserver>(m_workspace, pid, std::move(callback));
}
