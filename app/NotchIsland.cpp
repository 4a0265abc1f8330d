#include "app/NotchIsland.h"

#include "app/AppModel.h"
#include "engine/Presenter.h"
#include "platform/UserDefaults.h"

NotchIsland::NotchIsland(AppModel& model, UserDefaults& settings, IslandPanel& panel, QString build,
                         std::function<TimePoint()> now, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_settings(settings)
    , m_panel(panel)
    , m_build(std::move(build))
    , m_clock(std::move(now))
    , m_now(m_clock()) {
    m_collapse.setSingleShot(true);
    m_collapse.setInterval(kCollapseDelayMs);
    connect(&m_collapse, &QTimer::timeout, this, [this] { setPhase(Phase::Revealed); });
    m_peek.setSingleShot(true);
    m_peek.setInterval(kPeekMs);
    connect(&m_peek, &QTimer::timeout, this, [this] {
        m_peeking = false;
        Q_EMIT peekingChanged();
        m_phase = Phase::Revealed;
        Q_EMIT phaseChanged();
        update(false);
    });
    m_tick.setInterval(kTickMs);
    m_tick.setTimerType(Qt::CoarseTimer); // a little slack lets the system batch wake-ups
    connect(&m_tick, &QTimer::timeout, this, [this] {
        m_now = m_clock();
        Q_EMIT nowChanged();
    });
    // Also after a pause or resume: the model announces those as a change too.
    connect(&m_model, &AppModel::loopsChanged, this, [this] { update(false); });
    // The surface setting (and any other) changed: show or hide at once.
    connect(&m_settings, &UserDefaults::changed, this, [this] { update(false); });
}

double NotchIsland::notchWidth() const {
    return m_metrics && m_metrics->notchWidth ? *m_metrics->notchWidth
                                              : NotchGeometry::kAssumedNotchWidth;
}

bool NotchIsland::onNotchSurface() const {
    return AppSurfaces::current(m_settings) == AppSurface::Notch;
}

void NotchIsland::hide() {
    m_tick.stop();
    m_collapse.stop();
    if (m_phase != Phase::Revealed) {
        m_phase = Phase::Revealed;
        Q_EMIT phaseChanged();
    }
    if (m_panel.isShown())
        m_panel.hide();
    m_keepScreen = false;
}

void NotchIsland::update(bool animateFrame) {
    const GroupedLoops& loops = m_model.loops();
    const NotchHUDModel::Summary summary = NotchHUDModel::summary(loops);
    const auto expandedOverRows = [&] {
        return m_phase == Phase::Expanded &&
               !NotchHUDModel::board(loops, NotchHUDModel::kBoardLimit).rows.isEmpty();
    };
    if (!onNotchSurface() || m_model.isPaused() ||
        (!summary.isVisible() && !m_peeking && !expandedOverRows())) {
        hide();
        return;
    }
    const std::optional<NotchGeometry::Metrics> metrics = m_panel.screen(m_keepScreen);
    if (!metrics)
        return;
    m_keepScreen = true;
    if (summary.workingCount > 0) {
        if (!m_tick.isActive()) {
            m_now = m_clock();
            Q_EMIT nowChanged();
            m_tick.start();
        }
    } else {
        m_tick.stop();
    }
    applyFrame(*metrics, animateFrame);
}

void NotchIsland::applyFrame(const NotchGeometry::Metrics& metrics, bool animated) {
    const bool changed = !m_metrics || m_metrics->topInset != metrics.topInset ||
                         m_metrics->notchWidth != metrics.notchWidth;
    m_metrics = metrics;
    if (changed)
        Q_EMIT metricsChanged();
    const GroupedLoops& loops = m_model.loops();
    QRectF frame;
    if (m_phase == Phase::Expanded) {
        const NotchHUDModel::Board board = NotchHUDModel::board(loops, NotchHUDModel::kBoardLimit);
        frame = NotchGeometry::expandedFrame(
            metrics, NotchGeometry::expandedSize(metrics, static_cast<int>(board.rows.size()),
                                                 board.overflowCount > 0));
    } else {
        const NotchHUDModel::Lead lead = NotchHUDModel::lead(loops);
        const QSizeF size = NotchGeometry::collapsedSize(metrics, NotchHUDModel::leadWidth(lead),
                                                         NotchHUDModel::trailingWidth(lead));
        frame = NotchGeometry::anchored(metrics, size);
    }
    m_panel.place(frame, animated, m_phase == Phase::Expanded);
}

void NotchIsland::setPhase(Phase phase) {
    m_collapse.stop();
    if (phase != m_phase) {
        m_phase = phase;
        Q_EMIT phaseChanged();
        if (phase == Phase::Expanded)
            m_model.refresh();
    }
    update(true);
}

void NotchIsland::hoverChanged(bool hovering) {
    if (hovering)
        m_collapse.stop();
    else
        m_collapse.start();
}

void NotchIsland::scheduleLaunchPeek() {
    if (!onNotchSurface() || m_model.isPaused())
        return;
    if (m_settings.stringValue(kPeekedBuildKey) == m_build)
        return;
    m_settings.setString(kPeekedBuildKey, m_build);
    m_peeking = true;
    Q_EMIT peekingChanged();
    m_phase = Phase::Expanded;
    Q_EMIT phaseChanged();
    update(false);
    m_peek.start();
}

void NotchIsland::screensChanged() {
    m_keepScreen = false;
    update(false);
}
