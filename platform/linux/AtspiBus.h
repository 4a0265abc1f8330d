#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantList>
#include <chrono>
#include <functional>
#include <optional>

// The accessibility bus (AT-SPI): a D-Bus of its own, whose address the session bus's
// org.a11y.Bus gives. Read with QtDBus rather than libatspi: every call gets its own short
// timeout, many calls can be in flight at once (one wait for a whole level of a tree), and
// nothing needs a GLib main loop or is tied to one thread. An application that lets a call
// run out is skipped for a while, so a hung program holds Tessarine up once, briefly.
class AtspiBus {
public:
    static constexpr int kCallTimeoutMs = 300;
    static constexpr std::chrono::seconds kSkipFor{30};
    // Calls of one batch in flight at a time.
    static constexpr int kInFlight = 32;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Call {
        QString service;
        QString path;
        QString interface;
        QString method;
        QVariantList arguments = {};
        int timeoutMs = kCallTimeoutMs;
    };
    // An element as AT-SPI names it.
    struct Reference {
        QString service;
        QString path;
        bool operator==(const Reference&) const = default;
    };

    explicit AtspiBus(Clock clock = [] { return std::chrono::steady_clock::now(); });
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    // Connects on first use; false without an accessibility bus.
    bool isConnected();
    QDBusConnection connection();

    // One call; nothing on an error, a timeout or a skipped application.
    std::optional<QDBusMessage> call(const Call& call);
    // Many calls, a window of them in flight at a time; the replies in the same order.
    QList<std::optional<QDBusMessage>> callAll(const QList<Call>& calls);
    // A property of an element (org.freedesktop.DBus.Properties.Get).
    static Call property(const Reference& element, const QString& interface, const QString& name);

    // The bus name of the accessible application of a process; nothing when it has none.
    std::optional<QString> applicationOf(qint64 pid);
    // Whether calls into this application are skipped now (it let one run out).
    bool isSkipped(const QString& service) const;
    // Calls sent so far (for measuring scans).
    qint64 callsSent() const { return m_callsSent; }

    // An a(so) list (children, matches) as references.
    static QList<Reference> references(const QDBusMessage& reply);
    // The first value of a reply as text (a plain string or a property's variant); empty
    // when there was no reply.
    static QString text(const std::optional<QDBusMessage>& reply);
    // An a{ss} reply (document or object attributes).
    static QMap<QString, QString> stringMap(const std::optional<QDBusMessage>& reply);
    static inline const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
    static inline const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");

private:
    bool connectBus();
    void noteFailure(const QString& service, const QDBusMessage& reply, int timeoutMs);

    Clock m_clock;
    QString m_name;
    bool m_tried = false;
    bool m_connected = false;
    QHash<QString, std::chrono::steady_clock::time_point> m_skippedUntil;
    QHash<qint64, QString> m_applications; // pid → bus name
    qint64 m_callsSent = 0;
};
