#pragma once

#include "engine/StateMachine.h"
#include "store/StoreFixture.h"

#include <QList>
#include <QPair>

// (state, state_reason) as stored.
using Reason = QPair<QString, QString>;

inline Reason reason(const char* state, const QString& why) {
    return {QString::fromLatin1(state), why};
}
inline Reason reason(const char* state, const char* why) {
    return reason(state, QString::fromLatin1(why));
}

// A timer the test fires by hand, with the clock moved to the deadline.
class ManualTickTimer final : public TickTimer {
public:
    explicit ManualTickTimer(TimePoint& clock)
        : m_clock(clock) {}
    void schedule(TimePoint at, std::function<void()> action) override {
        m_deadline = at;
        m_action = std::move(action);
    }
    void cancel() override {
        m_deadline.reset();
        m_action = nullptr;
    }
    std::optional<TimePoint> deadline() const { return m_deadline; }
    bool fire() {
        if (!m_action)
            return false;
        m_clock = *m_deadline;
        auto action = std::exchange(m_action, nullptr);
        m_deadline.reset();
        action();
        return true;
    }

private:
    TimePoint& m_clock;
    std::optional<TimePoint> m_deadline;
    std::function<void()> m_action;
};

class RecordingObserver final : public TransitionObserver {
public:
    void loopDidTransition(const ContextRecord& record, ContextState state) override {
        transitions.append({record.id, state});
        records.append(record);
    }
    void loopWasDismissed(const QString& id) override { dismissals.append(id); }

    QList<QPair<QString, ContextState>> transitions;
    QList<ContextRecord> records;
    QStringList dismissals;
};

class StateMachineFixture : public StoreFixture {
protected:
    TimePoint clock = at(0);
    ManualTickTimer timer{clock};
    std::shared_ptr<RecordingObserver> observer = std::make_shared<RecordingObserver>();
    std::unique_ptr<StateMachine> machine = makeMachine(StateMachineConfiguration{});

    std::unique_ptr<StateMachine> makeMachine(StateMachineConfiguration configuration) {
        auto built =
            std::make_unique<StateMachine>(*store, configuration, &timer, [this] { return clock; });
        built->setObserver(observer);
        return built;
    }

    // Loops are made at the first focus (engagement threshold 0).
    void makeLoopsAtOnce() {
        StateMachineConfiguration immediate;
        immediate.engagementThreshold = 0;
        machine = makeMachine(immediate);
    }

    void send(FocusEvent::Kind kind, const QString& bundleID, double seconds,
              std::optional<QString> title = std::nullopt,
              std::optional<QString> displayName = std::nullopt) {
        clock = at(seconds);
        machine->ingest(
            FocusEvent{kind, bundleID, std::move(displayName), std::move(title), at(seconds)});
    }
    void gained(const QString& bundleID, double seconds, std::optional<QString> title = {},
                std::optional<QString> name = {}) {
        send(FocusEvent::Kind::FocusGained, bundleID, seconds, std::move(title), std::move(name));
    }
    void lost(const QString& bundleID, double seconds, std::optional<QString> title = {}) {
        send(FocusEvent::Kind::FocusLost, bundleID, seconds, std::move(title));
    }
    void retitled(const QString& bundleID, double seconds, std::optional<QString> title) {
        send(FocusEvent::Kind::WindowTitleChanged, bundleID, seconds, std::move(title));
    }

    // (state, state_reason) of a loop as stored.
    QPair<QString, QString> stored(const QString& id) {
        auto db = raw();
        Statement row(*db, u"SELECT state, state_reason FROM context WHERE id = ?"_qs);
        row.bindAll(id);
        if (!row.step())
            return {};
        return {row.text(0).value_or(QString()), row.text(1).value_or(QString())};
    }
    // The only open loop of an application.
    ContextRecord onlyLoop(const QString& bundleID) {
        QList<ContextRecord> found;
        for (const ContextRecord& loop : store->openContexts()) {
            if (loop.bundleID == bundleID)
                found.append(loop);
        }
        EXPECT_EQ(found.size(), 1) << bundleID.toStdString();
        return found.value(0);
    }
    qsizetype openLoops() { return store->openContexts().size(); }
};
