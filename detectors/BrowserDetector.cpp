#include "detectors/BrowserDetector.h"

#include "model/JsonParsing.h"
#include "model/KnownBrowsers.h"
#include "model/Log.h"
#include "model/TitleKey.h"
#include "platform/MessagePortNames.h"
#include "platform/UserDefaults.h"
#include "model/ReturnActionSanitizer.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <cmath>

namespace {

const QString kGenerationStarted = QStringLiteral("generation_started");
const QString kResponseComplete = QStringLiteral("response_complete");

std::optional<QString> text(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

// Whole numbers only: "7" or 7.5 are no tab ids.
std::optional<qint64> integer(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || std::abs(number) > 9007199254740991.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<ContextRecord> first(const QList<ContextRecord>& loops,
                                   const std::function<bool(const ContextRecord&)>& matches) {
    for (const ContextRecord& loop : loops) {
        if (matches(loop))
            return loop;
    }
    return std::nullopt;
}

// The first loop whose title key is the title's.
std::optional<ContextRecord> matchingTitle(const QList<ContextRecord>& loops,
                                           const std::optional<QString>& title) {
    const std::optional<QString> key = TitleKey::normalize(title);
    if (!key)
        return std::nullopt;
    return first(loops, [&key](const ContextRecord& loop) { return loop.titleKey == key; });
}

} // namespace

const QSet<QString>& BrowserDetector::browserBundleIDs() {
    static const QSet<QString> ids = [] {
        QSet<QString> set;
        for (const KnownBrowsers::Browser& browser : KnownBrowsers::all())
            set.insert(browser.identity);
        return set;
    }();
    return ids;
}

std::function<bool()> BrowserDetector::urlReceiptsSetting(const UserDefaults& settings) {
    return [&settings] {
        return settings.boolValue(QStringLiteral("settings.urlReceipts")).value_or(false);
    };
}

BrowserDetector::BrowserDetector(MessagePort& port, Options options)
    : m_port(port)
    , m_options(std::move(options)) {
    if (!m_options.makeWatchdog) {
        m_options.makeWatchdog = [this](std::function<void()> fire) -> std::function<void()> {
            auto* timer = new QTimer(&m_context);
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer, &QTimer::timeout, &m_context, [timer, fire = std::move(fire)] {
                timer->deleteLater();
                fire();
            });
            timer->start(std::chrono::seconds(kWatchdogSeconds));
            QPointer<QTimer> guard(timer);
            return [guard] {
                if (guard) {
                    guard->stop();
                    guard->deleteLater();
                }
            };
        };
    }
}

void BrowserDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) {
    m_signals = std::move(signals);
    m_environment = environment;
    if (m_options.installManifests)
        m_options.installManifests();
    if (m_options.createsReceiptPort && !m_receiptPort)
        startReceiptPort();
    if (Log::verbose())
        qCInfo(lcDetector) << "BrowserDetector listening for extension signals";
}

void BrowserDetector::startReceiptPort() {
    m_receiptPort = m_port.listen(MessagePortNames::tabContext(),
                                  [this](const QByteArray& payload) { receive(payload); });
    if (!m_receiptPort)
        qCCritical(lcDetector)
            << "tab receipt port unavailable; exact-tab return degrades to app-level";
}

void BrowserDetector::receive(const QByteArray& payload) {
    const std::optional<QJsonObject> parsed = JsonParsing::object(payload);
    if (!parsed)
        return;
    const QJsonObject& object = *parsed;
    const std::optional<QString> hostPort = text(object, "hostPort");
    if (hostPort)
        m_lastHostPort = hostPort;
    const TimePoint now = m_options.now();
    if (text(object, "kind") == u"ai_signal") {
        handleAISignal({text(object, "site"), text(object, "event"), text(object, "title"),
                        text(object, "url"), text(object, "favicon"), text(object, "prompt"),
                        hostPort, integer(object, "tabId")},
                       now);
        return;
    }
    handleTabContext({text(object, "url"), text(object, "title"), text(object, "favicon"), hostPort,
                      integer(object, "tabId")},
                     now);
}

QList<ContextRecord> BrowserDetector::browserLoops() const {
    QList<ContextRecord> loops;
    if (!m_environment || !m_environment->openContexts)
        return loops;
    for (const ContextRecord& loop : m_environment->openContexts()) {
        if (browserBundleIDs().contains(loop.bundleID))
            loops.append(loop);
    }
    return loops;
}

void BrowserDetector::recordTab(const QString& contextID, const std::optional<qint64>& tabId,
                                const std::optional<QString>& hostPort,
                                const std::optional<QString>& favicon,
                                const std::optional<QString>& url,
                                const std::optional<QString>& title, TimePoint now) {
    if (tabId && hostPort) {
        m_tabRoutes.insert(contextID, Route{*tabId, *hostPort});
        if (Log::verbose())
            qCInfo(lcDetector).noquote() << QStringLiteral("browser route %1: tab %2 via %3")
                                                .arg(contextID)
                                                .arg(*tabId)
                                                .arg(*hostPort);
    }
    if (favicon)
        m_signals->setIcon(contextID, *favicon);
    if (url && m_options.isURLReceiptsEnabled && m_options.isURLReceiptsEnabled()) {
        m_signals->attachDocumentRef(contextID, QStringLiteral("url"), *url, title, now);
        m_signals->suggestReturnActions(
            contextID, {{ReturnActionKind::OpenURL, *url, QStringLiteral("Open tab")}}, now);
    }
}

void BrowserDetector::handleAISignal(const AISignal& signal, TimePoint now) {
    if (!signal.site || !signal.event || !m_signals || !m_environment)
        return;
    const bool started = *signal.event == kGenerationStarted;
    if (!started && *signal.event != kResponseComplete)
        return;
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("browser signal %1:%2").arg(*signal.event, *signal.site);
    const QList<ContextRecord> loops = browserLoops();
    const auto inState = [](ContextState state) {
        return [state](const ContextRecord& loop) { return loop.state == state; };
    };

    std::optional<QString> contextID;
    if (const auto matched = matchingTitle(loops, signal.title)) {
        contextID = matched->id;
    } else if (started && !signal.title) {
        if (const auto active = first(loops, inState(ContextState::Active)))
            contextID = active->id;
    } else if (started) {
        const std::optional<QString> frontmost =
            m_environment->frontmostBundleID ? m_environment->frontmostBundleID() : std::nullopt;
        std::optional<QString> bundleID;
        if (frontmost && browserBundleIDs().contains(*frontmost))
            bundleID = frontmost;
        else if (!loops.isEmpty())
            bundleID = loops.first().bundleID;
        if (bundleID)
            contextID = m_signals->claim(*bundleID, signal.title, now);
    } else if (const auto waiting = first(loops, inState(ContextState::Waiting))) {
        contextID = waiting->id;
    } else if (const auto inactive = first(loops, [](const ContextRecord& loop) {
                   return loop.state != ContextState::Active;
               })) {
        contextID = inactive->id;
    }
    if (!contextID)
        return;

    if (started) {
        recordTab(*contextID, signal.tabId, signal.hostPort, signal.favicon, signal.url,
                  signal.title, now);
        m_signals->pending(*contextID, QStringLiteral("generation_started:") + *signal.site, now);
        armGeneratingWatchdog(*contextID, *signal.site);
        return;
    }
    cancelWatchdog(*contextID);
    recordTab(*contextID, signal.tabId, signal.hostPort, signal.favicon, signal.url, signal.title,
              now);
    m_signals->ready(*contextID, QStringLiteral("response_complete:") + *signal.site, now);
    if (signal.prompt && !signal.prompt->isEmpty())
        m_signals->summarize(*contextID, *signal.prompt);
}

void BrowserDetector::handleTabContext(const TabContext& context, TimePoint now) {
    if (!m_options.isURLReceiptsEnabled || !m_options.isURLReceiptsEnabled() || !m_signals ||
        !m_environment || !context.url)
        return;
    const std::optional<QString> redacted =
        ReturnActionSanitizer::redactedURLString(*context.url, true);
    if (!redacted)
        return;
    const QList<ContextRecord> loops = browserLoops();
    std::optional<ContextRecord> loop = matchingTitle(loops, context.title);
    if (!loop)
        loop = first(loops, [](const ContextRecord& candidate) {
            return candidate.state == ContextState::Active;
        });
    if (!loop)
        return;
    if (context.favicon)
        m_signals->setIcon(loop->id, *context.favicon);
    m_signals->attachDocumentRef(loop->id, QStringLiteral("url"), *redacted, context.title, now);
    m_signals->suggestReturnActions(
        loop->id, {{ReturnActionKind::OpenURL, *redacted, QStringLiteral("Open tab")}}, now);
    if (context.tabId && context.hostPort)
        m_tabRoutes.insert(loop->id, Route{*context.tabId, *context.hostPort});
}

void BrowserDetector::armGeneratingWatchdog(const QString& contextID, const QString& site) {
    cancelWatchdog(contextID);
    m_watchdogSites.insert(contextID, site);
    QPointer<QObject> alive(&m_context);
    m_watchdogCancels.insert(contextID, m_options.makeWatchdog([this, alive, contextID] {
        if (alive)
            fireGeneratingWatchdog(contextID);
    }));
}

void BrowserDetector::cancelWatchdog(const QString& contextID) {
    if (const auto cancel = m_watchdogCancels.take(contextID))
        cancel();
    m_watchdogSites.remove(contextID);
}

void BrowserDetector::fireGeneratingWatchdog(const QString& contextID) {
    if (!m_watchdogSites.contains(contextID))
        return; // the completion came first
    const QString site = m_watchdogSites.value(contextID);
    cancelWatchdog(contextID);
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("browser watchdog resolved stuck generating on %1").arg(contextID);
    if (m_signals)
        m_signals->ready(contextID, QStringLiteral("response_complete:") + site, m_options.now());
}

bool BrowserDetector::focusTab(const QString& contextID, const std::optional<QString>& url) {
    // The host acts only on a tab id: a request with an address alone would be dropped there,
    // so without a remembered route nothing can bring the tab back.
    const auto route = m_tabRoutes.constFind(contextID);
    if (route == m_tabRoutes.cend())
        return false;
    QJsonObject request{{QStringLiteral("action"), QStringLiteral("focus_tab")},
                        {QStringLiteral("tabId"), route->tabId}};
    if (url)
        request.insert(QStringLiteral("url"), *url);
    return m_port.send(route->hostPort, QJsonDocument(request).toJson(QJsonDocument::Compact)) ==
           MessagePort::SendResult::Sent;
}
