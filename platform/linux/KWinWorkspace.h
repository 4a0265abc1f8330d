#pragma once

#include "platform/linux/ToplevelWorkspace.h"
#include "platform/linux/XWaylandClues.h"

#include <QDBusContext>
#include <QHash>
#include <QTemporaryDir>
#include <memory>

// The desktop as KDE Plasma's compositor (KWin, 5.27 and 6) reports it on Wayland: a KWin
// script of ours, loaded over D-Bus, reports every window (its desktop file name, class,
// process, caption), caption changes, and activation back to this object over the session
// bus; only calls from KWin's own connection are accepted. Raising a window loads a one-shot
// script that activates it. (KWin's window-management protocol would need an installed
// desktop file declaring it, which a build folder or a test cannot have.)
class KWinWorkspace final : public ToplevelWorkspace, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.kestrune.Tessarine.KWinReports")
public:
    static inline const QString objectPath = QStringLiteral("/app/kestrune/Tessarine/KWin");

    // Loads the script into the KWin on the session bus. Without one, the workspace stays
    // empty and isConnected() is false.
    KWinWorkspace(qint64 ownPid, AppIdentityResolver resolver = AppIdentityResolver(),
                  QObject* parent = nullptr);
    ~KWinWorkspace() override;

    bool isConnected() const { return m_loaded; }
    // Whether the script has reported the windows that were there when it started.
    bool isReady() const { return m_ready; }

    bool canReadWindows() const override { return m_loaded; }
    bool raiseWindow(quint64 windowID) override;

public Q_SLOTS:
    // Calls of the script. Every value is text (KWin passes JavaScript numbers as reals).
    Q_SCRIPTABLE void WindowAdded(const QString& id, const QString& desktopFileName,
                                  const QString& resourceClass, const QString& resourceName,
                                  const QString& caption, const QString& pid,
                                  const QString& regular, const QString& x11Window);
    Q_SCRIPTABLE void WindowRemoved(const QString& id);
    Q_SCRIPTABLE void WindowCaptionChanged(const QString& id, const QString& caption);
    Q_SCRIPTABLE void WindowMinimizedChanged(const QString& id, const QString& minimized);
    Q_SCRIPTABLE void WindowActivated(const QString& id);
    Q_SCRIPTABLE void Ready();

protected:
    bool isMinimized(quint64 id) const override;

private:
    bool fromKWin() const;
    // Loads a script file into KWin under `name` and starts it (replacing one of that name).
    bool runScript(const QString& name, const QString& text);

    bool m_loaded = false;
    bool m_ready = false;
    QString m_kwinConnection;      // KWin's unique bus name
    QTemporaryDir m_scripts;       // our scripts live here while KWin has them loaded
    QHash<QString, quint64> m_ids; // KWin's window id → ours
    QHash<quint64, QString> m_kwinIDs;
    QSet<quint64> m_minimized;
    XWaylandClues m_xwayland;
    quint64 m_nextID = 1;
};
