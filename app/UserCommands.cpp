#include "app/UserCommands.h"

#include "model/SnoozeDuration.h"

#include "app/AppModel.h"
#include "detectors/WatchDetector.h"
#include "engine/StateMachine.h"
#include "model/ContextState.h"
#include "store/ContextStore.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace {

const QString kNoStore =
    QStringLiteral("Tessarine has no open database (see its log for why), so it has no loops.");

QJsonObject describe(const ContextRecord& loop, const char* group) {
    QJsonObject object{{QStringLiteral("id"), loop.id},
                       {QStringLiteral("bundleID"), loop.bundleID},
                       {QStringLiteral("state"), ContextStates::rawValue(loop.state)},
                       {QStringLiteral("isPinned"), loop.isPinned},
                       {QStringLiteral("group"), QString::fromLatin1(group)},
                       {QStringLiteral("stateChangedAt"), toMillis(loop.stateChangedAt)}};
    object.insert(QStringLiteral("label"), loop.label ? QJsonValue(*loop.label) : QJsonValue());
    object.insert(QStringLiteral("displayName"),
                  loop.displayName ? QJsonValue(*loop.displayName) : QJsonValue());
    if (loop.note)
        object.insert(QStringLiteral("note"), *loop.note);
    return object;
}

} // namespace

UserCommands::UserCommands(AppModel& model, std::function<TimePoint()> now)
    : m_model(model)
    , m_now(std::move(now)) {}

std::variant<ContextRecord, QString> UserCommands::find(const QString& idOrPrefix) const {
    ContextStore* store = m_model.store();
    if (!store)
        return kNoStore;
    const QString wanted = idOrPrefix.trimmed().toUpper();
    if (wanted.isEmpty())
        return QStringLiteral("No loop id given; `tessarine loops` lists them.");
    QList<ContextRecord> matches;
    try {
        for (const ContextRecord& loop : store->openContexts()) {
            if (loop.id == wanted)
                return loop;
            if (loop.id.startsWith(wanted))
                matches.append(loop);
        }
    } catch (const std::exception& error) {
        return QStringLiteral("The database could not be read: %1")
            .arg(QString::fromUtf8(error.what()));
    }
    if (matches.size() == 1)
        return matches.constFirst();
    if (matches.isEmpty())
        return QStringLiteral("No open loop has the id %1; `tessarine loops` lists them.")
            .arg(idOrPrefix);
    return QStringLiteral("%1 loops have ids beginning with %2; give more of the id.")
        .arg(matches.size())
        .arg(idOrPrefix);
}

QJsonArray UserCommands::loops() const {
    const GroupedLoops& grouped = m_model.loops();
    QJsonArray list;
    const auto add = [&list](const QList<ContextRecord>& loops, const char* group) {
        for (const ContextRecord& loop : loops)
            list.append(describe(loop, group));
    };
    add(grouped.ready, "ready");
    add(grouped.backgrounded, "backgrounded");
    add(grouped.stale, "stale");
    add(grouped.alsoOpen, "alsoOpen");
    return list;
}

QString UserCommands::withLoop(const QString& id,
                               const std::function<QString(const ContextRecord&)>& action) {
    const std::variant<ContextRecord, QString> found = find(id);
    if (const auto* error = std::get_if<QString>(&found))
        return *error;
    // A model that only reads (a snapshot) changes nothing.
    if (!m_model.stateMachine())
        return QStringLiteral("This Tessarine only shows loops; change them in the running one.");
    return action(std::get<ContextRecord>(found));
}

QString UserCommands::open(const QString& id) {
    return withLoop(id, [this](const ContextRecord& loop) {
        return m_model.open(loop) ? QString()
                                  : QStringLiteral("Nothing could take you back to this loop: "
                                                   "its application is neither running nor "
                                                   "installed.");
    });
}

QString UserCommands::dismiss(const QString& id) {
    return withLoop(id, [this](const ContextRecord& loop) {
        m_model.stateMachine()->userDismiss(loop.id, m_now());
        m_model.refresh();
        return QString();
    });
}

QString UserCommands::snooze(const QString& id, const QString& duration) {
    const bool tomorrow = SnoozeDuration::isUntilTomorrow(duration);
    const std::optional<double> seconds = SnoozeDuration::seconds(duration);
    if (!tomorrow && !seconds)
        return QStringLiteral("\"%1\" is not a duration: use 10m, 1h, tomorrow or seconds.")
            .arg(duration);
    return withLoop(id, [&](const ContextRecord& loop) {
        if (tomorrow)
            m_model.snoozeUntilTomorrow(loop);
        else
            m_model.snooze(loop, *seconds);
        return QString();
    });
}

QString UserCommands::togglePin(const QString& id) {
    return withLoop(id, [this](const ContextRecord& loop) {
        m_model.stateMachine()->userTogglePin(loop.id);
        m_model.refresh();
        return QString();
    });
}

QString UserCommands::respond(const QString& id, bool approve) {
    return withLoop(id, [this, approve](const ContextRecord& loop) {
        return m_model.respond(approve ? AppModel::Response::Approve : AppModel::Response::Deny,
                               loop)
                   ? QString()
                   : QStringLiteral("The prompt could not be answered and nothing could take you "
                                    "back to its application.");
    });
}

QString UserCommands::markNotReady(const QString& id) {
    return withLoop(id, [this](const ContextRecord& loop) {
        if (loop.state != ContextState::Ready)
            return QStringLiteral("This loop is not ready; only a ready loop can be marked not "
                                  "ready.");
        m_model.stateMachine()->userMarkNotReady(loop.id, m_now());
        m_model.refresh();
        return QString();
    });
}

QString UserCommands::setNote(const QString& id, const QString& note) {
    // A note is a reminder shown in the list and sent with every loop change, not a document.
    if (note.size() > kNoteMaxCharacters)
        return QStringLiteral("A note holds at most %1 characters; this one has %2.")
            .arg(kNoteMaxCharacters)
            .arg(note.size());
    return withLoop(id, [&](const ContextRecord& loop) {
        try {
            m_model.store()->setNote(loop.id, note);
        } catch (const std::exception& error) {
            return QStringLiteral("The note could not be saved: %1")
                .arg(QString::fromUtf8(error.what()));
        }
        m_model.refresh();
        return QString();
    });
}

QString UserCommands::clearAll() {
    if (!m_model.stateMachine())
        return kNoStore;
    m_model.stateMachine()->userClearAll(m_now());
    m_model.refresh();
    return {};
}

QString UserCommands::pause() {
    if (!m_model.isPaused())
        m_model.togglePause();
    return {};
}

QString UserCommands::resume() {
    if (m_model.isPaused())
        m_model.togglePause();
    return {};
}

QString UserCommands::watch(const QString& id) {
    return withLoop(id, [this](const ContextRecord& loop) {
        auto* watcher =
            m_model.detectorRegistry()
                ? dynamic_cast<WatchDetector*>(m_model.detectorRegistry()->detector(u"watch"_qs))
                : nullptr;
        if (!watcher)
            return QStringLiteral("Watching is not available (its detector is not running).");
        return watcher->watch(loop.id, loop.bundleID)
                   ? QString()
                   : QStringLiteral("%1 is not running, so there is nothing to watch.")
                         .arg(loop.displayName.value_or(loop.bundleID));
    });
}

QString UserCommands::exportTo(const QString& absolutePath) {
    if (!m_model.store())
        return kNoStore;
    if (!QFileInfo(absolutePath).isAbsolute())
        return QStringLiteral("The export file must be given as an absolute path.");
    try {
        m_model.store()->exportTo(QUrl::fromLocalFile(absolutePath), m_now());
    } catch (const std::exception& error) {
        return QStringLiteral("The export failed: %1").arg(QString::fromUtf8(error.what()));
    }
    return QFileInfo::exists(absolutePath)
               ? QString()
               : QStringLiteral("The export could not be written to %1.").arg(absolutePath);
}

QString UserCommands::exclude(const QString& bundleID) {
    if (!m_model.store())
        return kNoStore;
    if (bundleID.trimmed().isEmpty())
        return QStringLiteral("No application id given.");
    try {
        m_model.store()->addExclusion(bundleID.trimmed(), m_now());
    } catch (const std::exception& error) {
        return QStringLiteral("The exclusion failed: %1").arg(QString::fromUtf8(error.what()));
    }
    m_model.refresh();
    return {};
}
