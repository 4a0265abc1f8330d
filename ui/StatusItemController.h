#pragma once

#include "ui/StatusButton.h"

#include <QIcon>
#include <QObject>
#include <functional>
#include <memory>

class AppModel;
class DropdownWindow;
class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

// The tray icon: its picture, badge and tooltip follow the loops and the pause state; a click
// toggles the dropdown, its menu offers the same and the footer's commands. Where no tray
// host runs yet, it waits for a StatusNotifier host to appear (the hotkey still works).
class StatusItemController : public QObject {
    Q_OBJECT
public:
    StatusItemController(AppModel& model, DropdownWindow& popover,
                         std::function<void()> openSettings, QObject* parent = nullptr);
    ~StatusItemController() override;

    void updateButton();
    // Refreshes the model and shows the dropdown under the icon (or at the pointer).
    void open();
    void toggle();
    bool hasTray() const { return m_tray != nullptr; }
    const StatusButton& button() const { return m_button; }
    const QIcon& icon() const { return m_icon; }

    // The icon for a state: our dashed (or paused) circle, light on dark panels, with the
    // count drawn as a badge; paused is drawn disabled.
    static QIcon render(const StatusButton& button, bool darkPanel);

private:
    void createTray();

    AppModel& m_model;
    DropdownWindow& m_popover;
    std::function<void()> m_openSettings;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<QDBusServiceWatcher> m_hostWatcher;
    StatusButton m_button;
    QIcon m_icon;
    bool m_drawn = false;
};
