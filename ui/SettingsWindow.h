#pragma once

#include <QObject>
#include <memory>
#include <vector>

class QImage;
class QQmlEngine;
class QQuickView;
class SettingsView;

// The settings window ("Tessarine Settings"): created once, kept when closed, centred, in the
// task bar only while open. It also holds the desktop's dialogs the settings need: the save
// dialog for an export and the confirmation before deleting everything.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    SettingsWindow(QQmlEngine& engine, SettingsView& view, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // Reloads what it shows and brings it to the front.
    void show();
    bool isShown() const;
    QQuickView& window() { return *m_window; }

    // Each section (General, Privacy, Browser, Accessibility) drawn offscreen, for review.
    std::vector<QImage> renderSections();

    // Asks where to export (proposing "tessarine-export.json"), then exports there.
    Q_INVOKABLE void exportViaPanel();
    // Names what will be lost and deletes only when the user confirms.
    Q_INVOKABLE void confirmDeleteEverything();

private:
    SettingsView& m_view;
    std::unique_ptr<QQuickView> m_window;
};
