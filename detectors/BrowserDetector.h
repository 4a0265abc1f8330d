#pragma once

#include "detectors/Detector.h"
#include "platform/MessagePort.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

class UserDefaults;

// AI chats in browser tabs, as the browser companion reports them through the native host:
// a chat that starts generating marks its loop pending, one that completes marks it ready.
// Remembers which tab and which host belong to each loop, so returning to a loop can bring
// that tab back, and resolves a generation whose completion never comes after 480 s.
class BrowserDetector final : public Detector {
public:
    // The companion's fixed identity (from the public key in its manifest).
    static inline const QString defaultExtensionID =
        QStringLiteral("hnoljkljjchloidhpgffgagfecpcodbp");
    // The companion's add-on id in Firefox (its manifest's browser_specific_settings): a
    // Chromium extension id means nothing to Firefox.
    static inline const QString firefoxAddonID = QStringLiteral("companion@tessarine.kestrune.app");
    static constexpr int kWatchdogSeconds = 480;
    static const QSet<QString>& browserBundleIDs();

    using Clock = std::function<TimePoint()>;
    // Arms a one-shot action; returns what cancels it.
    using MakeWatchdog = std::function<std::function<void()>(std::function<void()> fire)>;

    struct Options {
        std::function<bool()> isURLReceiptsEnabled;
        bool createsReceiptPort = true;
        MakeWatchdog makeWatchdog;              // default: a 480 s single-shot timer
        std::function<void()> installManifests; // writes the host manifests, when configured
        Clock now = [] { return std::chrono::system_clock::now(); };
    };

    BrowserDetector(MessagePort& port, Options options);
    // Receipts follow "settings.urlReceipts", read at each message.
    static std::function<bool()> urlReceiptsSetting(const UserDefaults& settings);

    QString kind() const override { return QStringLiteral("browser"); }
    bool handles(const QString& bundleID) const override {
        return browserBundleIDs().contains(bundleID);
    }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    // Asks the host that reported the loop to bring its tab to the front; true when the
    // request was delivered.
    bool focusTab(const QString& contextID, const std::optional<QString>& url);

    struct AISignal {
        std::optional<QString> site, event, title, url, favicon, prompt, hostPort;
        std::optional<qint64> tabId;
    };
    struct TabContext {
        std::optional<QString> url, title, favicon, hostPort;
        std::optional<qint64> tabId;
    };
    void handleAISignal(const AISignal& signal, TimePoint now);
    void handleTabContext(const TabContext& context, TimePoint now);
    // One payload as the native host forwards it.
    void receive(const QByteArray& payload);

    bool hasReceiptPort() const { return m_receiptPort != nullptr; }
    bool hasWatchdog(const QString& contextID) const {
        return m_watchdogCancels.contains(contextID);
    }
    std::optional<QString> lastHostPort() const { return m_lastHostPort; }

private:
    struct Route {
        qint64 tabId;
        QString hostPort;
    };

    void startReceiptPort();
    QList<ContextRecord> browserLoops() const;
    void recordTab(const QString& contextID, const std::optional<qint64>& tabId,
                   const std::optional<QString>& hostPort, const std::optional<QString>& favicon,
                   const std::optional<QString>& url, const std::optional<QString>& title,
                   TimePoint now);
    void armGeneratingWatchdog(const QString& contextID, const QString& site);
    void cancelWatchdog(const QString& contextID);
    void fireGeneratingWatchdog(const QString& contextID);

    MessagePort& m_port;
    Options m_options;
    DetectorSignalsPtr m_signals;
    std::optional<DetectorEnvironment> m_environment;
    QHash<QString, Route> m_tabRoutes;
    std::optional<QString> m_lastHostPort;
    std::unique_ptr<MessagePort::Endpoint> m_receiptPort;
    QHash<QString, std::function<void()>> m_watchdogCancels;
    QHash<QString, QString> m_watchdogSites;
    QObject m_context; // queued and timed work dies with the detector
};
