#pragma once

#include "ui/LoopRow.h"

#include <QAbstractListModel>

// Dropdown rows for a QML list; the section title is a role, for the list's section headers.
class LoopListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        SectionRole,
        StatusRole,
        TitleRole,
        SubtitleRole,
        NoteRole,
        TimeRole,
        BadgeRole,
        IconSourceRole,
        MarkSourceRole,
        PinnedRole,
        CanWatchRole,
        HasApprovalRole,
    };
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setRows(QList<LoopRow> rows);
    const QList<LoopRow>& rows() const { return m_rows; }

Q_SIGNALS:
    void countChanged();

private:
    QList<LoopRow> m_rows;
};
