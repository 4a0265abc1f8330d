#pragma once

#include "model/ContextRecord.h"

#include <QJsonArray>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

class AppModel;

// The commands every surface calls (the command line and the control interface today, the
// dropdown, island and settings later), by loop id or a unique beginning of one. Each answers
// an empty text on success, else one line saying what went wrong and what to do.
class UserCommands {
public:
    explicit UserCommands(AppModel& model, std::function<TimePoint()> now);

    // The loop whose id is `idOrPrefix` or begins with it (any case); else the error.
    std::variant<ContextRecord, QString> find(const QString& idOrPrefix) const;
    // The loops the surfaces show, each with its "group" ("ready", "backgrounded", "stale",
    // "alsoOpen").
    QJsonArray loops() const;

    QString open(const QString& id);
    QString dismiss(const QString& id);
    // "10m", "1h", "45s", "tomorrow" (09:00 tomorrow) or whole seconds.
    QString snooze(const QString& id, const QString& duration);
    QString togglePin(const QString& id);
    QString markNotReady(const QString& id);
    // Answers the loop's approval prompt with the chat's own button, or takes the user there.
    QString respond(const QString& id, bool approve);
    static constexpr qsizetype kNoteMaxCharacters = 2000;
    QString setNote(const QString& id, const QString& note);
    QString clearAll();
    QString pause();
    QString resume();
    QString watch(const QString& id);
    QString exportTo(const QString& absolutePath);
    QString exclude(const QString& bundleID);

private:
    // Runs `action` on the loop `id` names, or answers why not.
    QString withLoop(const QString& id, const std::function<QString(const ContextRecord&)>& action);

    AppModel& m_model;
    std::function<TimePoint()> m_now;
};
