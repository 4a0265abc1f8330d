#pragma once

#include "model/Time.h"
#include "ui/LoopListModel.h"

#include <QObject>

class AppModel;
class UserCommands;

// What the island's view draws: the collapsed pill's lead task and counts with the widths the
// layout uses (the view never measures text), and the board's rows. Its commands go to the
// application model. Main thread only.
class IslandView : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString leadTask READ leadTask NOTIFY changed)
    Q_PROPERTY(bool leadWorking READ leadWorking NOTIFY changed)
    Q_PROPERTY(QString trailingText READ trailingText NOTIFY changed)
    Q_PROPERTY(double leadWidth READ leadWidth NOTIFY changed)
    Q_PROPERTY(double trailingWidth READ trailingWidth NOTIFY changed)
    Q_PROPERTY(int readyCount READ readyCount NOTIFY changed)
    Q_PROPERTY(int workingCount READ workingCount NOTIFY changed)
    Q_PROPERTY(LoopListModel* rows READ rows CONSTANT)
    Q_PROPERTY(int overflowCount READ overflowCount NOTIFY changed)
public:
    IslandView(AppModel& model, UserCommands& commands, std::function<TimePoint()> now,
               LoopRow::IconLookup iconName, QObject* parent = nullptr);

    QString leadTask() const { return m_leadTask; }
    bool leadWorking() const { return m_leadWorking; }
    QString trailingText() const { return m_trailingText; }
    double leadWidth() const { return m_leadWidth; }
    double trailingWidth() const { return m_trailingWidth; }
    int readyCount() const { return m_readyCount; }
    int workingCount() const { return m_workingCount; }
    LoopListModel* rows() { return &m_rows; }
    int overflowCount() const { return m_overflowCount; }

    Q_INVOKABLE void open(const QString& id);
    Q_INVOKABLE void dismiss(const QString& id);
    Q_INVOKABLE void clearAll();
    Q_INVOKABLE void approve(const QString& id);
    Q_INVOKABLE void deny(const QString& id);

    void reload();
    // The board's rows are built only while the island is dropped down (a thousand loops
    // would otherwise be laid out at every change for a pill that shows one).
    void setBoardShown(bool shown);

Q_SIGNALS:
    void changed();

private:
    void respond(const QString& id, bool approve);

    AppModel& m_model;
    UserCommands& m_commands;
    std::function<TimePoint()> m_now;
    LoopRow::IconLookup m_iconName;
    LoopListModel m_rows;
    QString m_leadTask;
    bool m_leadWorking = false;
    QString m_trailingText;
    double m_leadWidth = 0;
    double m_trailingWidth = 0;
    int m_readyCount = 0;
    int m_workingCount = 0;
    int m_overflowCount = 0;
    bool m_boardShown = false;
};
