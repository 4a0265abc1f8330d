#pragma once

#include "platform/LanguageModel.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <mutex>
#include <optional>

class UserDefaults;

// A language model served on this computer through the OpenAI-compatible API
// (`/v1/models`, `/v1/chat/completions`), as Ollama, llama.cpp's server, LM Studio and Jan
// offer it. The server is the one in "settings.summaryEndpoint" when set (refused unless it
// is on the loopback interface), else the first well-known local server that lists a model;
// the model is "settings.summaryModel" when set, else the first one listed.
//
// Nothing leaves the computer: connections go to loopback addresses only, never through a
// proxy, and a redirect counts as a failure. A loopback server run by another account on
// this computer would still receive the text.
//
// Settings are read on the main thread; `find` and `respond` run on any other thread.
class LocalModelServer final : public QObject, public LanguageModel {
    Q_OBJECT
public:
    struct KnownServer {
        QString name;
        quint16 port;
    };
    static QList<KnownServer> wellKnownServers();

    struct Options {
        std::chrono::milliseconds answerTimeout{20000};
        std::chrono::milliseconds lookTimeout{1500};
        // How long after a look that found nothing the next may be made.
        std::chrono::milliseconds lookInterval{std::chrono::minutes(3)};
        QList<KnownServer> knownServers = wellKnownServers();
        qint64 maxReplyBytes = 1 << 20;
    };

    explicit LocalModelServer(const UserDefaults& settings, QObject* parent = nullptr);
    LocalModelServer(const UserDefaults& settings, Options options, QObject* parent = nullptr);

    Availability find(std::stop_token stop, bool lookAgain) override;
    std::optional<Availability> lastKnown() const override;
    Answer respond(const QString& instructions, const QString& prompt,
                   std::stop_token stop) override;

private:
    struct Configuration {
        std::optional<QString> endpoint;
        std::optional<QString> model;
        bool operator==(const Configuration&) const = default;
    };
    struct Server {
        QUrl base;
        QString model;
    };
    struct Look {
        std::optional<Server> server;
        Availability availability;
    };

    void readSettings();
    Look look(const Configuration& configuration, std::stop_token stop) const;
    // The model to use at `base` (the configured one, else the first chat model listed);
    // none when nothing answers there with a model.
    std::optional<QString> modelAt(const QUrl& base, const Configuration& configuration,
                                   std::stop_token stop) const;

    const UserDefaults& m_settings;
    const Options m_options;
    mutable std::mutex m_mutex; // guards everything below
    Configuration m_configuration;
    std::optional<Server> m_server;
    std::optional<Availability> m_lastKnown;
    std::optional<std::chrono::steady_clock::time_point> m_lookedAt;
};
