#include "app/StateDump.h"

#include "model/ContextState.h"
#include "model/Log.h"
#include "model/RelativeTime.h"
#include "platform/UserDefaults.h"
#include "store/ContextStore.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Setting {
    const char* key;
    const char* fallback; // what applies when it is not set
};

constexpr Setting kSettings[] = {
    {"settings.sensoryProfile", "whisper"},
    {"settings.primarySurface", "notch (or menubar when settings.notchHUD is false)"},
    {"settings.notchHUD", "true"},
    {"settings.staleAfterMinutes", "20"},
    {"settings.engagementSeconds", "120"},
    {"settings.hotkey.keyCode", "37"},
    {"settings.hotkey.modifiers", "2304"},
    {"settings.downloadsDetector", "false"},
    {"settings.urlReceipts", "false"},
    {"settings.smartSummaries", "false"},
    {"settings.summaryEndpoint", "(a well-known local model server)"},
    {"settings.summaryModel", "(the server's first model)"},
    {"settings.launchAtLogin.configured", "false"},
    {"permissions.accessibility.prompted", "false"},
};

QString valueText(const UserDefaults& settings, const QString& key) {
    if (const auto flag = settings.boolValue(key))
        return *flag ? QStringLiteral("true") : QStringLiteral("false");
    if (const auto number = settings.integerValue(key))
        return QString::number(*number);
    if (const auto text = settings.stringValue(key))
        return *text;
    if (const auto list = settings.stringListValue(key))
        return list->join(QStringLiteral(", "));
    return {};
}

} // namespace

QString StateDump::text(const GroupedLoops& loops, ContextStore* store,
                        const QStringList& detectorKinds, const UserDefaults& settings,
                        TimePoint now) {
    QStringList lines;
    lines << QStringLiteral("Loops (%1 open):").arg(loops.openCount());
    const std::pair<const char*, const QList<ContextRecord>*> groups[] = {
        {"ready", &loops.ready},
        {"backgrounded", &loops.backgrounded},
        {"stale", &loops.stale},
        {"alsoOpen", &loops.alsoOpen}};
    for (const auto& [name, group] : groups) {
        lines << QStringLiteral("  %1: %2").arg(QLatin1String(name)).arg(group->size());
        for (const ContextRecord& loop : *group) {
            QString line =
                QStringLiteral("    %1 %2 %3 %4 changed %5")
                    .arg(loop.id.left(8), loop.bundleID, ContextStates::rawValue(loop.state),
                         Log::privateArg(loop.label.value_or(QString())),
                         RelativeTime::ago(loop.stateChangedAt, now));
            if (loop.isPinned)
                line += QStringLiteral(" pinned");
            if (loop.note)
                line += QStringLiteral(" note ") + Log::privateArg(*loop.note);
            if (store) {
                try {
                    if (const auto signal = store->latestDetectorSignal(loop.id))
                        line +=
                            QStringLiteral(" [%1 %2]").arg(signal->detectorKind, signal->signal);
                } catch (const std::exception&) {
                    line += QStringLiteral(" [detector state unreadable]");
                }
            }
            lines << line;
        }
    }
    lines << QStringLiteral("Detectors: %1")
                 .arg(detectorKinds.isEmpty() ? QStringLiteral("none")
                                              : detectorKinds.join(QStringLiteral(", ")));
    lines << QStringLiteral("Settings in force:");
    for (const Setting& setting : kSettings) {
        const QString key = QString::fromLatin1(setting.key);
        const QString value = valueText(settings, key);
        lines << (value.isEmpty() ? QStringLiteral("  %1 = %2 (default)")
                                        .arg(key, QLatin1String(setting.fallback))
                                  : QStringLiteral("  %1 = %2").arg(key, value));
    }
    return lines.join(u'\n') + u'\n';
}
