#pragma once

#include "app/UserCommands.h"

#include <QDBusContext>
#include <QObject>

class AppModel;

// The running engine's commands on the user's session bus: the name app.kestrune.Tessarine,
// the object /app/kestrune/Tessarine, the interface app.kestrune.Tessarine1. Only the user's
// own session bus reaches it (no TCP, no system bus). Failures are D-Bus errors carrying one
// line for the user.
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.kestrune.Tessarine1")
public:
    static inline const QString serviceName = QStringLiteral("app.kestrune.Tessarine");
    static inline const QString objectPath = QStringLiteral("/app/kestrune/Tessarine");
    static inline const QString interfaceName = QStringLiteral("app.kestrune.Tessarine1");
    static inline const QString failedError = QStringLiteral("app.kestrune.Tessarine1.Failed");

    ControlService(AppModel& model, UserCommands& commands, QObject* parent = nullptr);
    // Takes the name on the session bus; false (logged) when it cannot.
    bool registerOnSessionBus();

    // The visible surfaces, installed when there are any (not on a headless engine).
    std::function<void()> onShow;
    std::function<void()> onToggle;
    std::function<void()> onOpenSettings;

public Q_SLOTS:
    QString Loops();
    void Open(const QString& id);
    void Dismiss(const QString& id);
    void Snooze(const QString& id, const QString& duration);
    void TogglePin(const QString& id);
    void MarkNotReady(const QString& id);
    void Approve(const QString& id);
    void Deny(const QString& id);
    void SetNote(const QString& id, const QString& note);
    void ClearAll();
    void Pause();
    void Resume();
    void Watch(const QString& id);
    void Export(const QString& absolutePath);
    void Exclude(const QString& bundleID);
    // The dropdown and the settings window; a headless engine says in the log that it has none.
    void Show();
    void Toggle();
    void OpenSettings();

Q_SIGNALS:
    void LoopsChanged();

private:
    void answer(const QString& error);

    UserCommands& m_commands;
};
