// defaults.json as a user may hand-edit it: parsed as the settings file is read, then every
// value read with every type and handed to what interprets settings (the state machine's
// timings, the shortcut, the summaries' endpoint).
#include "app/HotkeyManager.h"
#include "model/StateMachineConfiguration.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LoopbackEndpoint.h"

#include <cstddef>
#include <cstdint>

namespace {

class FuzzedDefaults final : public UserDefaults {
public:
    void load(const QJsonObject& values) { replaceAll(values); }
};

const char* const kKnownKeys[] = {
    "settings.staleAfterMinutes", "settings.engagementSeconds", "settings.sensoryProfile",
    "settings.primarySurface",    "settings.notchHUD",          "settings.hotkey.keyCode",
    "settings.hotkey.modifiers",  "settings.approveLabels",     "settings.axChatBundleIDs",
    "settings.summaryEndpoint",   "settings.summaryModel",      "settings.browserExtensionID",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString problem;
    const std::optional<QJsonObject> values = JsonFileUserDefaults::parse(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
        problem);
    if (!values)
        return 0;
    FuzzedDefaults settings;
    settings.load(*values);
    QStringList keys = values->keys();
    for (const char* key : kKnownKeys)
        keys.append(QString::fromLatin1(key));
    for (const QString& key : keys) {
        (void)settings.boolValue(key);
        (void)settings.integerValue(key);
        (void)settings.stringValue(key);
        (void)settings.stringListValue(key);
    }
    (void)StateMachineConfiguration::fromSettings(
        settings.integerValue(QStringLiteral("settings.staleAfterMinutes")),
        settings.integerValue(QStringLiteral("settings.engagementSeconds")));
    (void)HotkeyManager::shortcutText(settings);
    if (const std::optional<QString> endpoint =
            settings.stringValue(QStringLiteral("settings.summaryEndpoint")))
        (void)LoopbackEndpoint::parse(*endpoint);
    return 0;
}
