#include "ui/IslandView.h"

#include "app/AppModel.h"
#include "app/NotchHUDModel.h"
#include "app/UserCommands.h"

IslandView::IslandView(AppModel& model, UserCommands& commands, std::function<TimePoint()> now,
                       LoopRow::IconLookup iconName, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_commands(commands)
    , m_now(std::move(now))
    , m_iconName(std::move(iconName)) {
    connect(&m_model, &AppModel::loopsChanged, this, &IslandView::reload);
    connect(&m_model, &AppModel::pendingApprovalsChanged, this, &IslandView::reload);
    reload();
}

void IslandView::reload() {
    const GroupedLoops& loops = m_model.loops();
    const NotchHUDModel::Lead lead = NotchHUDModel::lead(loops);
    const std::optional<ContextRecord>& first = lead.working ? lead.working : lead.ready;
    m_leadTask = first ? NotchHUDModel::displayedTask(*first) : QString();
    m_leadWorking = lead.working.has_value();
    m_leadWidth = NotchHUDModel::leadWidth(lead);
    m_trailingWidth = NotchHUDModel::trailingWidth(lead);
    m_readyCount = lead.readyCount;
    m_workingCount = lead.workingCount;
    const QString ready = lead.readyCount == 1 ? QStringLiteral("ready")
                                               : QStringLiteral("%1 ready").arg(lead.readyCount);
    if (lead.working) {
        m_trailingText = lead.extraWorking() > 0
                             ? QStringLiteral("working +%1").arg(lead.extraWorking())
                             : QStringLiteral("working");
        if (lead.readyCount > 0)
            m_trailingText += QStringLiteral(" · ") + ready;
    } else {
        m_trailingText = lead.readyCount > 0 ? ready : QString();
    }

    if (!m_boardShown) {
        Q_EMIT changed();
        return;
    }
    const NotchHUDModel::Board board = NotchHUDModel::board(loops, NotchHUDModel::kBoardLimit);
    const TimePoint now = m_now();
    QList<LoopRow> rows;
    for (const NotchHUDModel::Row& row : board.rows) {
        const LoopRow::Status status =
            row.status == NotchHUDModel::Status::Ready     ? LoopRow::Status::Ready
            : row.status == NotchHUDModel::Status::Working ? LoopRow::Status::Working
                                                           : LoopRow::Status::Backgrounded;
        LoopRow shown = LoopRow::from(row.record, status, now, m_iconName,
                                      m_model.hasPendingApproval(row.record.id));
        shown.title = NotchHUDModel::displayedTask(row.record);
        rows.append(shown);
    }
    m_rows.setRows(std::move(rows));
    m_overflowCount = board.overflowCount;
    Q_EMIT changed();
}

void IslandView::setBoardShown(bool shown) {
    if (shown == m_boardShown)
        return;
    m_boardShown = shown;
    if (shown)
        reload();
}

void IslandView::open(const QString& id) {
    m_commands.open(id);
}

void IslandView::dismiss(const QString& id) {
    m_commands.dismiss(id);
}

void IslandView::clearAll() {
    m_commands.clearAll();
}

void IslandView::respond(const QString& id, bool approve) {
    const auto found = m_commands.find(id);
    if (const auto* loop = std::get_if<ContextRecord>(&found))
        m_model.respond(approve ? AppModel::Response::Approve : AppModel::Response::Deny, *loop);
}

void IslandView::approve(const QString& id) {
    respond(id, true);
}

void IslandView::deny(const QString& id) {
    respond(id, false);
}
