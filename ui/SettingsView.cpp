#include "ui/SettingsView.h"

#include "app/AppModel.h"
#include "app/HotkeyManager.h"
#include "app/UserCommands.h"
#include "engine/Presenter.h"
#include "platform/GlobalHotkey.h"
#include "platform/UserDefaults.h"
#include "store/AuditLog.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <algorithm>

namespace {

const QString kSurface = QStringLiteral("settings.primarySurface");
const QString kProfile = QStringLiteral("settings.sensoryProfile");
const QString kDownloads = QStringLiteral("settings.downloadsDetector");
const QString kReceipts = QStringLiteral("settings.urlReceipts");
const QString kSummaries = QStringLiteral("settings.smartSummaries");
const QString kRemoteApprove = QStringLiteral("settings.remoteApprove");

// The X keysym a Qt key stands for.
std::optional<quint32> keysymOf(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<quint32>(qtKey - Qt::Key_A + 'a');
    if (qtKey > 0x20 && qtKey < 0x7f)
        return static_cast<quint32>(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F15)
        return static_cast<quint32>(0xffbe + (qtKey - Qt::Key_F1));
    static const QHash<int, quint32> special = {
        {Qt::Key_Space, 0x20},       {Qt::Key_Return, 0xff0d}, {Qt::Key_Tab, 0xff09},
        {Qt::Key_Backspace, 0xff08}, {Qt::Key_Escape, 0xff1b}, {Qt::Key_Left, 0xff51},
        {Qt::Key_Up, 0xff52},        {Qt::Key_Right, 0xff53},  {Qt::Key_Down, 0xff54},
        {Qt::Key_Home, 0xff50},      {Qt::Key_End, 0xff57},    {Qt::Key_PageUp, 0xff55},
        {Qt::Key_PageDown, 0xff56},  {Qt::Key_Delete, 0xffff}};
    const auto found = special.constFind(qtKey);
    return found == special.constEnd() ? std::nullopt : std::optional(*found);
}

} // namespace

SettingsView::SettingsView(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies)) {
    connect(&m_dependencies.settings, &UserDefaults::changed, this, &SettingsView::changed);
    connect(&m_dependencies.model.permissions(), &Permissions::accessibilityGrantedChanged, this,
            &SettingsView::changed);
    if (TopicSummarizer* topics = m_dependencies.model.topicSummarizer())
        connect(topics, &TopicSummarizer::availabilityChanged, this, &SettingsView::changed);
}

void SettingsView::reload() {
    m_dependencies.model.refreshSettingsData();
    // A server started since the last look shows up when the window opens.
    if (TopicSummarizer* topics = m_dependencies.model.topicSummarizer();
        topics && smartSummaries())
        topics->lookForModel();
    Q_EMIT changed();
}

void SettingsView::report(const QString& message) {
    m_message = message;
    Q_EMIT changed();
}

QString SettingsView::primarySurface() const {
    return AppSurfaces::current(m_dependencies.settings) == AppSurface::MenuBar
               ? QStringLiteral("menubar")
               : QStringLiteral("notch");
}

void SettingsView::setPrimarySurface(const QString& surface) {
    if (surface == u"notch" || surface == u"menubar")
        m_dependencies.settings.setString(kSurface, surface);
}

QString SettingsView::surfaceText() const {
    return primarySurface() == u"notch"
               ? QStringLiteral("The notch island shows working and ready sessions at the top "
                                "of the screen. The dropdown stays a click (or %1) away.")
                     .arg(shortcut())
               : QStringLiteral("The menu-bar dropdown is your surface and drops down when "
                                "something's ready. The notch island stays hidden.");
}

QString SettingsView::sensoryProfile() const {
    const QString profile = m_dependencies.settings.stringValue(kProfile).value_or(QString());
    return profile == u"nudge" || profile == u"coach" ? profile : QStringLiteral("whisper");
}

void SettingsView::setSensoryProfile(const QString& profile) {
    if (profile == u"whisper" || profile == u"nudge" || profile == u"coach")
        m_dependencies.settings.setString(kProfile, profile); // the model re-reads it at once
}

bool SettingsView::downloadsDetection() const {
    return m_dependencies.settings.boolValue(kDownloads).value_or(false);
}

void SettingsView::setDownloadsDetection(bool on) {
    m_dependencies.settings.setBool(kDownloads, on); // the model starts the detector
}

bool SettingsView::launchAtLogin() const {
    return m_dependencies.model.launchesAtLogin();
}

void SettingsView::setLaunchAtLogin(bool on) {
    if (!m_dependencies.model.setLaunchAtLogin(on))
        report(QStringLiteral("Launch at login could not be changed (see the log)."));
    Q_EMIT changed();
}

QString SettingsView::shortcut() const {
    return HotkeyManager::shortcutText(m_dependencies.settings);
}

std::optional<quint32> SettingsView::virtualKey(int qtKey) {
    const std::optional<quint32> sym = keysymOf(qtKey);
    if (!sym)
        return std::nullopt;
    for (quint32 code = 0; code < 128; ++code) {
        if (GlobalHotkey::keysym(code) == sym)
            return code;
    }
    return std::nullopt;
}

bool SettingsView::recordShortcut(int qtKey, int qtModifiers) {
    quint32 modifiers = 0;
    if (qtModifiers & Qt::ControlModifier)
        modifiers |= GlobalHotkey::kControl;
    if (qtModifiers & Qt::AltModifier)
        modifiers |= GlobalHotkey::kOption;
    if (qtModifiers & Qt::ShiftModifier)
        modifiers |= GlobalHotkey::kShift;
    if (qtModifiers & Qt::MetaModifier)
        modifiers |= GlobalHotkey::kCommand;
    const std::optional<quint32> key = virtualKey(qtKey);
    if (!key) {
        report(QStringLiteral("That key cannot be a shortcut; try a letter, digit or F-key."));
        return false;
    }
    if (!(modifiers & (GlobalHotkey::kControl | GlobalHotkey::kOption | GlobalHotkey::kCommand))) {
        report(QStringLiteral("Hold Ctrl, Alt or Super with the key, so other applications keep "
                              "it."));
        return false;
    }
    UserDefaults& settings = m_dependencies.settings;
    const auto previousKey = settings.integerValue(HotkeyManager::kKeyCodeKey);
    const auto previousModifiers = settings.integerValue(HotkeyManager::kModifiersKey);
    settings.setInteger(HotkeyManager::kModifiersKey, modifiers);
    settings.setInteger(HotkeyManager::kKeyCodeKey, *key);
    if (m_dependencies.hotkey && !m_dependencies.hotkey->isRegistered()) {
        const QString refused = GlobalHotkey::describe(*key, modifiers);
        const auto restore = [&settings](const QString& name, const std::optional<qint64>& value) {
            if (value)
                settings.setInteger(name, *value);
            else
                settings.remove(name);
        };
        restore(HotkeyManager::kModifiersKey, previousModifiers);
        restore(HotkeyManager::kKeyCodeKey, previousKey);
        report(
            QStringLiteral("%1 is taken by another program; %2 stays.").arg(refused, shortcut()));
        return false;
    }
    report(QStringLiteral("Tessarine now opens with %1.").arg(shortcut()));
    return true;
}

QVariantList SettingsView::excludedApplications() const {
    QHash<QString, QString> names;
    if (m_dependencies.installedApplications) {
        for (const InstalledApplication& application : m_dependencies.installedApplications())
            names.insert(application.identity, application.name);
    }
    QVariantList list;
    for (const PrivacyRuleRecord& rule : m_dependencies.model.settingsData().exclusionRules) {
        if (rule.scope != u"app")
            continue;
        list.append(QVariantMap{{QStringLiteral("id"), rule.id},
                                {QStringLiteral("identity"), rule.matcher},
                                {QStringLiteral("name"), names.value(rule.matcher, rule.matcher)},
                                {QStringLiteral("isDefault"), rule.isDefault}});
    }
    return list;
}

QVariantList SettingsView::excludedAddresses() const {
    QVariantList list;
    for (const PrivacyRuleRecord& rule : m_dependencies.model.settingsData().exclusionRules) {
        if (rule.scope == u"url_pattern")
            list.append(QVariantMap{{QStringLiteral("id"), rule.id},
                                    {QStringLiteral("pattern"), rule.matcher},
                                    {QStringLiteral("isDefault"), rule.isDefault}});
    }
    return list;
}

QVariantList SettingsView::applications(const QString& search) const {
    QList<InstalledApplication> found;
    if (m_dependencies.installedApplications) {
        for (const InstalledApplication& application : m_dependencies.installedApplications()) {
            if (search.isEmpty() || application.name.contains(search, Qt::CaseInsensitive) ||
                application.identity.contains(search, Qt::CaseInsensitive))
                found.append(application);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
    QVariantList list;
    for (const InstalledApplication& application : found)
        list.append(QVariantMap{{QStringLiteral("identity"), application.identity},
                                {QStringLiteral("name"), application.name},
                                {QStringLiteral("icon"), application.icon.value_or(QString())}});
    return list;
}

void SettingsView::excludeApplication(const QString& identity) {
    const QString failure = m_dependencies.commands.exclude(identity);
    m_dependencies.model.refreshSettingsData();
    report(failure.isEmpty()
               ? QStringLiteral("Tessarine no longer tracks %1; what it had stored of it is gone.")
                     .arg(identity)
               : failure);
}

void SettingsView::addExcludedAddress(const QString& pattern) {
    const QString trimmed = pattern.trimmed();
    ContextStore* store = m_dependencies.model.store();
    if (trimmed.isEmpty() || !store) {
        report(trimmed.isEmpty() ? QStringLiteral("Type an address pattern, like *.bank.example/*.")
                                 : QStringLiteral("There is no open database to change."));
        return;
    }
    try {
        store->addURLExclusion(trimmed, m_dependencies.now());
    } catch (const std::exception& error) {
        report(QStringLiteral("The address could not be excluded: %1")
                   .arg(QString::fromUtf8(error.what())));
        return;
    }
    m_dependencies.model.refreshSettingsData();
    m_dependencies.model.refresh();
    report(QString());
}

void SettingsView::removeExclusion(const QString& ruleID) {
    if (ContextStore* store = m_dependencies.model.store()) {
        try {
            store->removeExclusion(ruleID, m_dependencies.now());
        } catch (const std::exception& error) {
            report(QString::fromUtf8(error.what()));
            return;
        }
    }
    m_dependencies.model.refreshSettingsData();
    report(QString());
}

int SettingsView::retentionDays() const {
    return static_cast<int>(m_dependencies.model.settingsData().retentionDays);
}

void SettingsView::setRetentionDays(int days) {
    ContextStore* store = m_dependencies.model.store();
    const QVariantList choices = retentionChoices();
    if (!store || !choices.contains(days) || days == retentionDays())
        return;
    try {
        store->setRetentionTTL(days, m_dependencies.now());
    } catch (const std::exception& error) {
        report(QString::fromUtf8(error.what()));
        return;
    }
    m_dependencies.model.refreshSettingsData();
    Q_EMIT changed();
}

QVariantList SettingsView::retentionChoices() const {
    QVariantList choices;
    for (const int days : kRetentionChoices)
        choices.append(days);
    return choices;
}

void SettingsView::setFlag(const QString& key, bool on, const char* auditOn, const char* auditOff) {
    if (m_dependencies.settings.boolValue(key).value_or(false) == on)
        return;
    m_dependencies.settings.setBool(key, on);
    if (ContextStore* store = m_dependencies.model.store()) {
        try {
            store->recordAudit(QLatin1String(on ? auditOn : auditOff), std::nullopt,
                               m_dependencies.now());
        } catch (const std::exception&) {
            // the setting holds; the audit line is lost with the failing database
        }
    }
    m_dependencies.model.refreshSettingsData();
    Q_EMIT changed();
}

bool SettingsView::urlReceipts() const {
    return m_dependencies.settings.boolValue(kReceipts).value_or(false);
}

void SettingsView::setUrlReceipts(bool on) {
    setFlag(kReceipts, on, "url_receipts_enabled", "url_receipts_disabled");
}

bool SettingsView::smartSummaries() const {
    return m_dependencies.settings.boolValue(kSummaries).value_or(false);
}

void SettingsView::setSmartSummaries(bool on) {
    setFlag(kSummaries, on, "smart_summaries_enabled", "smart_summaries_disabled");
}

QString SettingsView::summaryModelText() const {
    const TopicSummarizer* topics = m_dependencies.model.topicSummarizer();
    if (!topics || !smartSummaries())
        return {};
    const std::optional<LanguageModel::Availability> availability = topics->availability();
    if (!availability)
        return QStringLiteral("Looking for a language model on this computer…");
    if (availability->model)
        return QStringLiteral("Topics come from %1 (%2).")
            .arg(*availability->model, availability->description);
    QString why = availability->description;
    if (!why.isEmpty())
        why[0] = why[0].toUpper();
    return QStringLiteral("%1, so chat loops show the first line of your prompt. For topics, "
                          "start Ollama, llama.cpp's server, LM Studio or Jan, or set "
                          "\"settings.summaryEndpoint\" in defaults.json.")
        .arg(why);
}

QStringList SettingsView::auditEntries() const {
    QStringList lines;
    const QLocale locale;
    for (const AuditEntry& entry : m_dependencies.model.settingsData().auditEntries) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(toMillis(entry.occurredAt));
        lines.append(locale.toString(at.toLocalTime(), QLocale::ShortFormat) +
                     QStringLiteral(" — ") + AuditLog::describe(entry));
    }
    return lines;
}

bool SettingsView::exportTo(const QString& path) {
    const QString failure = m_dependencies.commands.exportTo(path);
    m_dependencies.model.refreshSettingsData();
    report(failure.isEmpty() ? QStringLiteral("Exported to %1.").arg(path) : failure);
    return failure.isEmpty();
}

QString SettingsView::deleteEverythingWarning() const {
    qint64 loops = 0;
    if (ContextStore* store = m_dependencies.model.store()) {
        try {
            for (const auto& [table, rows] : store->tableCounts()) {
                if (table == u"context")
                    loops = rows;
            }
        } catch (const std::exception&) {
            // counted as none
        }
    }
    return QStringLiteral("This erases all %1 loops Tessarine remembers, with their notes, "
                          "pages and ways back, and every recorded window switch, from this "
                          "computer. Your exclusions and settings stay. It cannot be undone.")
        .arg(loops);
}

void SettingsView::deleteEverything() {
    ContextStore* store = m_dependencies.model.store();
    if (!store) {
        report(QStringLiteral("There is no open database to delete."));
        return;
    }
    try {
        store->deleteEverything(m_dependencies.now());
    } catch (const std::exception& error) {
        report(QStringLiteral("Deleting failed: %1").arg(QString::fromUtf8(error.what())));
        return;
    }
    m_dependencies.model.refresh();
    m_dependencies.model.refreshSettingsData();
    report(QStringLiteral("Everything Tessarine had stored is gone."));
}

void SettingsView::prepareCompanion() {
    m_companionStatus = m_dependencies.model.prepareBrowserExtension();
    Q_EMIT changed();
}

bool SettingsView::accessibilityGranted() const {
    return m_dependencies.model.permissions().accessibilityGranted();
}

SetupNotice* SettingsView::tracking() const {
    return &m_dependencies.model.trackingNotice();
}

SetupNotice* SettingsView::shortcutNotice() const {
    return &m_dependencies.model.shortcutNotice();
}

void SettingsView::requestAccessibility() {
    m_dependencies.model.permissions().requestAccessibility();
}

bool SettingsView::remoteApprove() const {
    return m_dependencies.settings.boolValue(kRemoteApprove).value_or(false);
}

void SettingsView::setRemoteApprove(bool on) {
    m_dependencies.settings.setBool(kRemoteApprove, on);
}
