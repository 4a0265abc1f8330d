#pragma once

#include "app/NotchGeometry.h"
#include "app/NotchHUDModel.h"
#include "model/Time.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class AppModel;
class UserDefaults;

// What the island's window does, in terms the controller needs: place it (animated or
// not, with or without a shadow), take it off screen, and tell which screens exist.
class IslandPanel {
public:
    virtual ~IslandPanel() = default;
    virtual void place(const QRectF& frame, bool animated, bool shadow) = 0;
    virtual void hide() = 0;
    virtual bool isShown() const = 0;
    // The screen to show on (keeping `current` while it is attached), with its metrics;
    // nothing when there is no screen.
    virtual std::optional<NotchGeometry::Metrics> screen(bool keepCurrent) = 0;
};

// The island's observable state and its behaviour: shown while something is ready or
// working on the notch surface (not while paused), collapsed or expanded, a launch peek once
// per build, the 1 s clock only while something works. Main thread only.
class NotchIsland : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ isExpanded NOTIFY phaseChanged)
    Q_PROPERTY(bool peeking READ isPeeking NOTIFY peekingChanged)
    Q_PROPERTY(bool hasNotch READ hasNotch NOTIFY metricsChanged)
    Q_PROPERTY(double topInset READ topInset NOTIFY metricsChanged)
    Q_PROPERTY(double notchWidth READ notchWidth NOTIFY metricsChanged)
    Q_PROPERTY(qint64 now READ nowMillis NOTIFY nowChanged)
public:
    enum class Phase { Revealed, Expanded };
    static inline const QString kPeekedBuildKey = QStringLiteral("settings.notchHUD.peekedBuild");
    static constexpr int kCollapseDelayMs = 350;
    static constexpr int kPeekMs = 5000;
    static constexpr int kTickMs = 1000;

    NotchIsland(AppModel& model, UserDefaults& settings, IslandPanel& panel, QString build,
                std::function<TimePoint()> now, QObject* parent = nullptr);

    Phase phase() const { return m_phase; }
    bool isExpanded() const { return m_phase == Phase::Expanded; }
    bool isPeeking() const { return m_peeking; }
    bool hasNotch() const { return m_metrics && NotchGeometry::hasNotch(*m_metrics); }
    double topInset() const { return m_metrics ? m_metrics->topInset : 0; }
    double notchWidth() const;
    qint64 nowMillis() const { return toMillis(m_now); }
    bool isTicking() const { return m_tick.isActive(); }

    void update(bool animateFrame);
    Q_INVOKABLE void expand() { setPhase(Phase::Expanded); }
    Q_INVOKABLE void collapse() { setPhase(Phase::Revealed); }
    void setPhase(Phase phase);
    // The pointer entered (true) or left (false) the island.
    Q_INVOKABLE void hoverChanged(bool hovering);
    // Once at start: the expanded island for 5 s, the first time a build runs.
    void scheduleLaunchPeek();
    // The screens changed: pick again.
    void screensChanged();

Q_SIGNALS:
    void phaseChanged();
    void peekingChanged();
    void metricsChanged();
    void nowChanged();

private:
    void hide();
    void applyFrame(const NotchGeometry::Metrics& metrics, bool animated);
    bool onNotchSurface() const;

    AppModel& m_model;
    UserDefaults& m_settings;
    IslandPanel& m_panel;
    QString m_build;
    std::function<TimePoint()> m_clock;
    Phase m_phase = Phase::Revealed;
    bool m_peeking = false;
    bool m_keepScreen = false;
    std::optional<NotchGeometry::Metrics> m_metrics;
    TimePoint m_now;
    QTimer m_collapse;
    QTimer m_peek;
    QTimer m_tick;
};
