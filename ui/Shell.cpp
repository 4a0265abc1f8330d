#include "ui/Shell.h"

#include "app/AppModel.h"
#include "app/HotkeyManager.h"
#include "app/NotchIsland.h"
#include "model/Log.h"
#include "ui/DropdownWindow.h"
#include "ui/IslandView.h"
#include "ui/IslandWindow.h"
#include "ui/MenuBarView.h"
#include "ui/OnboardingController.h"
#include "ui/SettingsWindow.h"
#include "ui/StatusItemController.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

Shell::Shell(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies)) {
    AppModel& model = m_dependencies.model;
    LoopImageProvider::install(m_engine, m_images, model);
    m_menu = std::make_unique<MenuBarView>(model, m_dependencies.commands, m_dependencies.now,
                                           m_dependencies.iconName);
    m_dropdown = std::make_unique<DropdownWindow>(m_engine, *m_menu);
    connect(m_menu.get(), &MenuBarView::settingsRequested, this, &Shell::openSettings);
    connect(m_menu.get(), &MenuBarView::quitRequested, qApp, &QCoreApplication::quit);
    connect(&model.permissions(), &Permissions::consentRequested, this,
            &Shell::askForAccessibility);

    // The settings window (created once, kept), then the tray and the shortcut.
    m_statusItem =
        std::make_unique<StatusItemController>(model, *m_dropdown, [this] { openSettings(); });
    if (m_dependencies.hotkey) {
        m_hotkey = std::make_unique<HotkeyManager>(*m_dependencies.hotkey, m_dependencies.settings,
                                                   [this] { toggleDropdown(); });
        m_hotkey->registerHotkey();
    }
    m_settingsView = std::make_unique<SettingsView>(SettingsView::Dependencies{
        .model = model,
        .commands = m_dependencies.commands,
        .settings = m_dependencies.settings,
        .hotkey = m_hotkey.get(),
        .installedApplications = m_dependencies.installedApplications,
        .now = m_dependencies.now,
    });
    m_settingsWindow = std::make_unique<SettingsWindow>(m_engine, *m_settingsView);
    // The island, on the notch surface.
    m_islandView = std::make_unique<IslandView>(model, m_dependencies.commands, m_dependencies.now,
                                                m_dependencies.iconName);
    m_islandWindow = std::make_unique<IslandWindow>(m_engine, *m_islandView);
    m_islandWindow->setPlaceable(m_dependencies.islandPlaceable);
    m_island = std::make_unique<NotchIsland>(model, m_dependencies.settings, *m_islandWindow,
                                             m_dependencies.build, m_dependencies.now);
    m_islandWindow->attach(*m_island);
    connect(m_island.get(), &NotchIsland::phaseChanged, this,
            [this] { m_islandView->setBoardShown(m_island->isExpanded()); });
    m_islandWindow->onScreensChanged([this] { m_island->screensChanged(); });
    m_island->update(false);
    m_island->scheduleLaunchPeek();
    m_onboarding = std::make_unique<OnboardingController>(
        m_engine, m_dependencies.settings,
        [this] { return HotkeyManager::shortcutText(m_dependencies.settings); },
        [this] { return m_statusItem->hasTray(); });
    if (!m_onboarding->isCompleted()) {
        qCInfo(lcApp) << "Showing the welcome window (until it is completed or skipped once)";
        m_onboarding->present(model.permissions());
    }
    // A nudge drops the dropdown down where the user is, when the dropdown is the surface.
    model.dropdownNotifier().onSurface = [this] {
        if (!m_dropdown->isShown()) {
            m_dependencies.model.refresh();
            m_dropdown->showAt(std::nullopt);
        }
    };
}

Shell::~Shell() {
    m_dependencies.model.dropdownNotifier().onSurface = nullptr;
}

void Shell::toggleDropdown() {
    m_statusItem->toggle();
}

void Shell::openDropdown() {
    if (!m_dropdown->isShown())
        m_statusItem->open();
}

void Shell::openSettings() {
    m_dropdown->close();
    m_settingsWindow->show();
}

void Shell::askForAccessibility(bool firstTime) {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Turn on Accessibility"),
                                QStringLiteral("Tessarine reads other applications' buttons and "
                                               "text (to see, for example, when an AI chat has "
                                               "finished) through the desktop's accessibility "
                                               "switch, the one screen readers use. Turn it on "
                                               "now?"));
    box->setInformativeText(
        QStringLiteral("Applications started before the switch (Chromium, and Electron apps such "
                       "as Claude or Slack) must be restarted before Tessarine can read them.") +
        (firstTime ? QString()
                   : QStringLiteral("\n\nIf turning it on here does not work, turn on assistive "
                                    "technologies in your desktop's accessibility settings.")));
    QPushButton* turnOn = box->addButton(QStringLiteral("Turn On"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, turnOn] {
        if (box->clickedButton() != turnOn)
            return;
        if (!m_dependencies.model.permissions().grant())
            QMessageBox::warning(nullptr, QStringLiteral("Accessibility is still off"),
                                 QStringLiteral("The desktop did not turn accessibility on. Turn "
                                                "on assistive technologies in your desktop's "
                                                "accessibility settings, then try again."));
    });
    box->open();
}
