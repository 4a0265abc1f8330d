#pragma once

#include "platform/WindowObservers.h"
#include "platform/Workspace.h"
#include "platform/linux/AppIdentityResolver.h"
#include "platform/linux/DesktopEntryExec.h"

#include <QHash>
#include <QSet>
#include <QTimer>
#include <functional>
#include <memory>

// A desktop as a display server reports its top-level windows, whatever the protocol (X11,
// a Wayland compositor's window list, a compositor script). The backend reports windows
// appearing, going, retitling and becoming active; this class turns them into applications:
// an application is an identity, whatever number of processes show its windows. It is
// launched when its first window appears and terminated when its last one goes, and
// switching between its windows is a window switch inside it. Windows of this process are
// never reported.
class ToplevelWorkspace : public Workspace {
public:
    // The index of installed desktop entries it identifies applications with (also for icons
    // and the exclusion picker, so the entries are read once).
    const AppIdentityResolver& identities() const { return m_resolver; }

    QList<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<QString> focusedWindowTitle(qint64 pid) const override;
    std::optional<quint64> focusedWindowID(qint64 pid) const override;
    QList<WindowInfo> windows(qint64 pid) const override;
    std::unique_ptr<WindowObservation> observeWindows(qint64 pid,
                                                      std::function<void()> changed) override;
    // Through the desktop's own tools: xdg-open, and an application's desktop entry started
    // without a shell.
    bool openURL(const QString& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& bundleID, const std::optional<QString>& url) override;
    bool copyText(const QString& text) override;
    // org.freedesktop.Application on the entry's own bus name (activating it if needed).
    static bool activateOverDBus(const DesktopEntryExec::Entry& entry,
                                 const std::optional<QString>& url);
    // The clipboard, where the process has one (a GUI application); none by default.
    void setClipboard(std::function<bool(const QString& text)> copy) { m_copy = std::move(copy); }

protected:
    ToplevelWorkspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent);

    struct Toplevel {
        quint64 id = 0;
        std::optional<qint64> pid; // the process showing it, when the server names one
        AppIdentityResolver::Clues clues;
        std::optional<QString> title;
        bool isRegular = true; // an ordinary (taskbar) window
    };
    // False when the window is one of ours or nothing identifies it. `moreClues` is asked
    // only when the process has not been identified before (reading clues costs round trips).
    bool addToplevel(Toplevel toplevel,
                     const std::function<void(AppIdentityResolver::Clues&)>& moreClues = {});
    void removeToplevel(quint64 id);
    void setToplevelTitle(quint64 id, const std::optional<QString>& title);
    void setToplevelRegular(quint64 id, bool isRegular);
    // A known window became the active one.
    void activateToplevel(quint64 id);
    // Something that is not reported (one of our windows, a vanished one) became active:
    // whoever was in front lost focus.
    void deactivateFront();
    // "No window is active" from a compositor that passes through it between two windows:
    // the front loses focus only when no window is activated within a short grace time.
    void deactivateFrontUnlessActivated();
    bool hasToplevel(quint64 id) const { return m_windows.contains(id); }
    QList<quint64> toplevelIDs() const { return m_windows.keys(); }
    qint64 ownPid() const { return m_ownPid; }
    // Whether a window is minimised now (asked when windows are listed).
    virtual bool isMinimized(quint64 id) const;

private:
    struct Window;
    struct Application;

    AppIdentityResolver::Identity
    identify(std::optional<qint64> pid, AppIdentityResolver::Clues clues,
             const std::function<void(AppIdentityResolver::Clues&)>& moreClues);
    void notifyObservers(qint64 pid) { m_observers.notify(pid); }

    qint64 m_ownPid;
    AppIdentityResolver m_resolver;
    QHash<quint64, std::shared_ptr<Window>> m_windows;
    QHash<qint64, std::shared_ptr<Application>> m_applications; // by handle
    QHash<QString, qint64> m_handles;                           // identity → handle
    QHash<qint64, AppIdentityResolver::Identity> m_identities;  // by process
    std::optional<qint64> m_front;
    WindowObservers m_observers;
    std::function<bool(const QString&)> m_copy;
    QTimer m_deactivation;
};
