#include "ui/LoopListModel.h"

int LoopListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant LoopListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const LoopRow& row = m_rows.at(index.row());
    switch (role) {
    case IdRole:
        return row.id;
    case SectionRole:
        return LoopRow::sectionTitle(row.status);
    case StatusRole:
        return LoopRow::statusName(row.status);
    case TitleRole:
        return row.title;
    case SubtitleRole:
        return row.subtitle;
    case NoteRole:
        return row.note;
    case TimeRole:
        return row.time;
    case BadgeRole:
        return row.badge.value_or(QString());
    case IconSourceRole:
        return row.iconSource();
    case MarkSourceRole:
        return row.markSource();
    case PinnedRole:
        return row.isPinned;
    case CanWatchRole:
        return row.canWatch;
    case HasApprovalRole:
        return row.hasApproval;
    default:
        return {};
    }
}

QHash<int, QByteArray> LoopListModel::roleNames() const {
    return {{IdRole, "loopID"},
            {SectionRole, "section"},
            {StatusRole, "status"},
            {TitleRole, "title"},
            {SubtitleRole, "subtitle"},
            {NoteRole, "note"},
            {TimeRole, "time"},
            {BadgeRole, "badge"},
            {IconSourceRole, "iconSource"},
            {MarkSourceRole, "markSource"},
            {PinnedRole, "pinned"},
            {CanWatchRole, "canWatch"},
            {HasApprovalRole, "hasApproval"}};
}

void LoopListModel::setRows(QList<LoopRow> rows) {
    const qsizetype before = m_rows.size();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    if (before != m_rows.size())
        Q_EMIT countChanged();
}
