#pragma once

#include "model/Time.h"

#include "app/SetupNotice.h"

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <optional>

class AppModel;
class HotkeyManager;
class UserCommands;
class UserDefaults;

// An application the exclusion picker offers: its identity as the workspace reports it.
struct InstalledApplication {
    QString identity;
    QString name;
    std::optional<QString> icon; // icon theme name or file
};

// The settings window's view model: the general choices, the privacy controls, the browser
// companion and the accessibility switch. Every switch writes its setting with the right
// type; the privacy-relevant ones also write their audit entry. Main thread only.
class SettingsView : public QObject {
    Q_OBJECT
    // General
    Q_PROPERTY(QString primarySurface READ primarySurface WRITE setPrimarySurface NOTIFY changed)
    Q_PROPERTY(QString surfaceText READ surfaceText NOTIFY changed)
    Q_PROPERTY(QString sensoryProfile READ sensoryProfile WRITE setSensoryProfile NOTIFY changed)
    Q_PROPERTY(
        bool downloadsDetection READ downloadsDetection WRITE setDownloadsDetection NOTIFY changed)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY changed)
    Q_PROPERTY(QString shortcut READ shortcut NOTIFY changed)
    // Privacy
    Q_PROPERTY(QVariantList excludedApplications READ excludedApplications NOTIFY changed)
    Q_PROPERTY(QVariantList excludedAddresses READ excludedAddresses NOTIFY changed)
    Q_PROPERTY(int retentionDays READ retentionDays WRITE setRetentionDays NOTIFY changed)
    Q_PROPERTY(QVariantList retentionChoices READ retentionChoices CONSTANT)
    Q_PROPERTY(bool urlReceipts READ urlReceipts WRITE setUrlReceipts NOTIFY changed)
    Q_PROPERTY(bool smartSummaries READ smartSummaries WRITE setSmartSummaries NOTIFY changed)
    // Which local model names chat loops, or that none was found (empty while switched off).
    Q_PROPERTY(QString summaryModelText READ summaryModelText NOTIFY changed)
    Q_PROPERTY(QStringList auditEntries READ auditEntries NOTIFY changed)
    Q_PROPERTY(QString deleteEverythingWarning READ deleteEverythingWarning NOTIFY changed)
    // Browser
    Q_PROPERTY(QString companionStatus READ companionStatus NOTIFY changed)
    // Accessibility
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY changed)
    Q_PROPERTY(bool remoteApprove READ remoteApprove WRITE setRemoteApprove NOTIFY changed)
    // Why window switches cannot be followed here, and the step that fixes it.
    Q_PROPERTY(SetupNotice* tracking READ tracking CONSTANT)
    // How to open the dropdown from the keyboard where the desktop gives no global shortcut.
    Q_PROPERTY(SetupNotice* shortcutNotice READ shortcutNotice CONSTANT)
    // The last command's outcome, one line.
    Q_PROPERTY(QString message READ message NOTIFY changed)
public:
    static constexpr int kRetentionChoices[] = {1, 3, 7, 14, 30, 90};

    struct Dependencies {
        AppModel& model;
        UserCommands& commands;
        UserDefaults& settings;
        HotkeyManager* hotkey; // none without a global shortcut
        std::function<QList<InstalledApplication>()> installedApplications;
        std::function<TimePoint()> now;
    };
    explicit SettingsView(Dependencies dependencies, QObject* parent = nullptr);

    QString primarySurface() const;
    void setPrimarySurface(const QString& surface);
    QString surfaceText() const;
    QString sensoryProfile() const;
    void setSensoryProfile(const QString& profile);
    bool downloadsDetection() const;
    void setDownloadsDetection(bool on);
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool on);
    QString shortcut() const;
    // A shortcut typed in the recorder (a Qt key and modifiers). Only one the shortcut can
    // be grabbed with is kept; otherwise the old one stays and `message` says why.
    Q_INVOKABLE bool recordShortcut(int qtKey, int qtModifiers);

    QVariantList excludedApplications() const;
    QVariantList excludedAddresses() const;
    // The picker's applications matching `search` (name or identity, any case), by name.
    Q_INVOKABLE QVariantList applications(const QString& search) const;
    Q_INVOKABLE void excludeApplication(const QString& identity);
    Q_INVOKABLE void addExcludedAddress(const QString& pattern);
    Q_INVOKABLE void removeExclusion(const QString& ruleID);
    int retentionDays() const;
    void setRetentionDays(int days);
    QVariantList retentionChoices() const;
    bool urlReceipts() const;
    void setUrlReceipts(bool on);
    bool smartSummaries() const;
    void setSmartSummaries(bool on);
    QString summaryModelText() const;
    QStringList auditEntries() const;
    // Writes everything to `path` (a 0600 file); false with `message` on failure.
    Q_INVOKABLE bool exportTo(const QString& path);
    QString deleteEverythingWarning() const;
    Q_INVOKABLE void deleteEverything();

    QString companionStatus() const { return m_companionStatus; }
    Q_INVOKABLE void prepareCompanion();

    bool accessibilityGranted() const;
    SetupNotice* tracking() const;
    SetupNotice* shortcutNotice() const;
    Q_INVOKABLE void requestAccessibility();
    bool remoteApprove() const;
    void setRemoteApprove(bool on);

    QString message() const { return m_message; }
    // Reloads what the window shows (the window calls it whenever it is shown).
    Q_INVOKABLE void reload();

    // The virtual key code (the settings' kind) of a Qt key; nothing for keys without one.
    static std::optional<quint32> virtualKey(int qtKey);

Q_SIGNALS:
    void changed();

private:
    void setFlag(const QString& key, bool on, const char* auditOn, const char* auditOff);
    void report(const QString& message);

    Dependencies m_dependencies;
    QString m_companionStatus;
    QString m_message;
};
