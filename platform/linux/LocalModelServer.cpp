#include "platform/linux/LocalModelServer.h"

#include "model/Log.h"
#include "platform/UserDefaults.h"
#include "platform/linux/LoopbackEndpoint.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

const QString kEndpointKey = QStringLiteral("settings.summaryEndpoint");
const QString kModelKey = QStringLiteral("settings.summaryModel");

struct Exchange {
    int status = 0; // the HTTP status; 0 when no answer came
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString failure; // empty when a complete 2xx answer came
};

// One request to a loopback address, waited for on this thread's own event loop.
Exchange exchange(const QUrl& url, const std::optional<QByteArray>& json,
                  std::chrono::milliseconds timeout, qint64 maxBytes, std::stop_token stop) {
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));

    Exchange result;
    QEventLoop loop;
    QNetworkReply* reply = json ? manager.post(request, *json) : manager.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        if (received > maxBytes && result.failure.isEmpty()) {
            result.failure = QStringLiteral("the answer was larger than %1 bytes").arg(maxBytes);
            reply->abort();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        result.failure = QStringLiteral("no answer within %1 s").arg(timeout.count() / 1000.0);
        reply->abort();
    });
    deadline.start(timeout);
    // Runs on the stopping thread: the abort itself is made on this one.
    const std::stop_callback onStop(stop, [&loop, &result, reply] {
        QMetaObject::invokeMethod(
            &loop,
            [&result, reply] {
                if (result.failure.isEmpty())
                    result.failure = QStringLiteral("stopped");
                reply->abort();
            },
            Qt::QueuedConnection);
    });
    if (!reply->isFinished())
        loop.exec();

    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    if (result.failure.isEmpty()) {
        if (result.status >= 300 && result.status < 400)
            result.failure = QStringLiteral("the server answered with a redirect, which is not "
                                            "followed");
        else if (result.error != QNetworkReply::NoError)
            result.failure = result.status > 0
                                 ? QStringLiteral("the server answered HTTP %1").arg(result.status)
                                 : reply->errorString();
        else
            result.body = reply->readAll();
    }
    delete reply;
    return result;
}

bool connectionRefused(const Exchange& result) {
    return result.error == QNetworkReply::ConnectionRefusedError;
}

QString hostAndPort(const QUrl& base) {
    return base.authority();
}

// The first chat model listed in a `/v1/models` answer; embedding models only when nothing
// else is there.
std::optional<QString> firstModel(const QByteArray& body) {
    const QJsonArray models = QJsonDocument::fromJson(body).object().value(u"data").toArray();
    std::optional<QString> fallback;
    for (const QJsonValue& entry : models) {
        const QString id = entry.toObject().value(u"id").toString();
        if (id.isEmpty())
            continue;
        if (!id.contains(u"embed", Qt::CaseInsensitive))
            return id;
        if (!fallback)
            fallback = id;
    }
    return fallback;
}

} // namespace

QList<LocalModelServer::KnownServer> LocalModelServer::wellKnownServers() {
    return {{QStringLiteral("Ollama"), 11434},
            {QStringLiteral("llama.cpp"), 8080},
            {QStringLiteral("LM Studio"), 1234},
            {QStringLiteral("Jan"), 1337}};
}

LocalModelServer::LocalModelServer(const UserDefaults& settings, QObject* parent)
    : LocalModelServer(settings, Options{}, parent) {}

LocalModelServer::LocalModelServer(const UserDefaults& settings, Options options, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_options(std::move(options)) {
    readSettings();
    connect(&m_settings, &UserDefaults::changed, this, &LocalModelServer::readSettings);
}

void LocalModelServer::readSettings() {
    const auto nonEmpty = [](std::optional<QString> text) -> std::optional<QString> {
        if (text && text->trimmed().isEmpty())
            return std::nullopt;
        return text;
    };
    Configuration configuration{nonEmpty(m_settings.stringValue(kEndpointKey)),
                                nonEmpty(m_settings.stringValue(kModelKey))};
    std::lock_guard lock(m_mutex);
    if (configuration == m_configuration)
        return;
    m_configuration = std::move(configuration);
    m_server.reset();
    m_lastKnown.reset();
    m_lookedAt.reset();
}

std::optional<LanguageModel::Availability> LocalModelServer::lastKnown() const {
    std::lock_guard lock(m_mutex);
    return m_lastKnown;
}

LanguageModel::Availability LocalModelServer::find(std::stop_token stop, bool lookAgain) {
    Configuration configuration;
    {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        const bool due = !m_lookedAt || (!m_server && now - *m_lookedAt >= m_options.lookInterval);
        if (!lookAgain && !due && m_lastKnown)
            return *m_lastKnown;
        configuration = m_configuration;
    }
    Look found = look(configuration, stop);
    if (stop.stop_requested())
        return found.availability;
    std::lock_guard lock(m_mutex);
    if (m_configuration == configuration) { // the settings did not change meanwhile
        m_server = found.server;
        m_lastKnown = found.availability;
        m_lookedAt = std::chrono::steady_clock::now();
    }
    return found.availability;
}

LocalModelServer::Look LocalModelServer::look(const Configuration& configuration,
                                              std::stop_token stop) const {
    if (configuration.endpoint) {
        const LoopbackEndpoint endpoint = LoopbackEndpoint::parse(*configuration.endpoint);
        if (!endpoint.refusal.isEmpty()) {
            qCWarning(lcApp).noquote() << "Refusing settings.summaryEndpoint:" << endpoint.refusal
                                       << "- summaries use the prompt's first line";
            return {std::nullopt,
                    {std::nullopt,
                     QStringLiteral("settings.summaryEndpoint is refused: ") + endpoint.refusal}};
        }
        for (const QUrl& base : endpoint.bases) {
            if (const std::optional<QString> model = modelAt(base, configuration, stop))
                return {Server{base, *model},
                        {*model, QStringLiteral("the server at %1").arg(hostAndPort(base))}};
        }
        return {std::nullopt,
                {std::nullopt, QStringLiteral("no model server answered at %1 "
                                              "(settings.summaryEndpoint)")
                                   .arg(*configuration.endpoint)}};
    }
    QStringList names;
    for (const KnownServer& known : m_options.knownServers) {
        names.append(known.name);
        const QUrl base = LoopbackEndpoint::onPort(known.port).bases.constFirst();
        if (const std::optional<QString> model = modelAt(base, configuration, stop))
            return {Server{base, *model},
                    {*model, QStringLiteral("%1 at %2").arg(known.name, hostAndPort(base))}};
        if (stop.stop_requested())
            break;
    }
    return {std::nullopt,
            {std::nullopt,
             QStringLiteral("no local model server found (looked for %1 on this computer)")
                 .arg(names.join(QStringLiteral(", ")))}};
}

std::optional<QString> LocalModelServer::modelAt(const QUrl& base,
                                                 const Configuration& configuration,
                                                 std::stop_token stop) const {
    QUrl url = base;
    url.setPath(base.path() + QStringLiteral("/models"));
    const Exchange listed =
        exchange(url, std::nullopt, m_options.lookTimeout, m_options.maxReplyBytes, stop);
    if (!listed.failure.isEmpty())
        return std::nullopt;
    if (configuration.model)
        return configuration.model;
    return firstModel(listed.body);
}

LanguageModel::Answer LocalModelServer::respond(const QString& instructions, const QString& prompt,
                                                std::stop_token stop) {
    const Availability availability = find(stop, false);
    std::optional<Server> server;
    {
        std::lock_guard lock(m_mutex);
        server = m_server;
    }
    if (!availability.model || !server)
        return {std::nullopt, availability.description};

    const QJsonObject body{
        {u"model"_qs, server->model},
        {u"stream"_qs, false},
        {u"messages"_qs,
         QJsonArray{QJsonObject{{u"role"_qs, u"system"_qs}, {u"content"_qs, instructions}},
                    QJsonObject{{u"role"_qs, u"user"_qs}, {u"content"_qs, prompt}}}},
    };
    QUrl url = server->base;
    url.setPath(server->base.path() + QStringLiteral("/chat/completions"));
    const Exchange answered = exchange(url, QJsonDocument(body).toJson(QJsonDocument::Compact),
                                       m_options.answerTimeout, m_options.maxReplyBytes, stop);
    if (!answered.failure.isEmpty()) {
        if (connectionRefused(answered)) { // the server went away: look again when due
            std::lock_guard lock(m_mutex);
            if (m_server && m_server->base == server->base) {
                m_server.reset();
                m_lastKnown = Availability{
                    std::nullopt, QStringLiteral("the model server at %1 stopped answering")
                                      .arg(hostAndPort(server->base))};
            }
        }
        return {std::nullopt, answered.failure};
    }
    const QJsonValue content = QJsonDocument::fromJson(answered.body)
                                   .object()
                                   .value(u"choices")
                                   .toArray()
                                   .at(0)
                                   .toObject()
                                   .value(u"message")
                                   .toObject()
                                   .value(u"content");
    if (!content.isString())
        return {std::nullopt, QStringLiteral("the answer was not a chat completion")};
    return {content.toString(), {}};
}
