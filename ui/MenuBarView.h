#pragma once

#include "app/SetupNotice.h"
#include "model/Time.h"
#include "ui/LoopListModel.h"

#include <QObject>
#include <QVariantMap>
#include <optional>

class AppModel;
class UserCommands;

// The dropdown's view model: sections and counts from the application model, the selected
// row and its detail, note editing, the keyboard, and every row and footer command. It
// changes nothing itself: commands go to the application model. Main thread only.
class MenuBarView : public QObject {
    Q_OBJECT
    Q_PROPERTY(LoopListModel* rows READ rows CONSTANT)
    Q_PROPERTY(LoopListModel* alsoOpenRows READ alsoOpenRows CONSTANT)
    Q_PROPERTY(int alsoOpenCount READ alsoOpenCount NOTIFY loopsChanged)
    Q_PROPERTY(int alsoOpenMore READ alsoOpenMore NOTIFY loopsChanged)
    Q_PROPERTY(int readyCount READ readyCount NOTIFY loopsChanged)
    Q_PROPERTY(int openCount READ openCount NOTIFY loopsChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY loopsChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY pausedChanged)
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityChanged)
    Q_PROPERTY(QString selectedID READ selectedID NOTIFY selectionChanged)
    Q_PROPERTY(QVariantMap selectedCapsule READ selectedCapsule NOTIFY selectionChanged)
    Q_PROPERTY(QString noteEditingID READ noteEditingID NOTIFY noteEditingChanged)
    Q_PROPERTY(QString noteDraft READ noteDraft WRITE setNoteDraft NOTIFY noteEditingChanged)
    Q_PROPERTY(bool showAlsoOpen READ showAlsoOpen WRITE setShowAlsoOpen NOTIFY showAlsoOpenChanged)
    Q_PROPERTY(bool listFocused READ listFocused WRITE setListFocused NOTIFY listFocusedChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool snapshotMode READ snapshotMode CONSTANT)
    // Why window switches cannot be followed here, and the step that fixes it.
    Q_PROPERTY(SetupNotice* tracking READ tracking CONSTANT)
public:
    // Rows of "Also open" shown when expanded; the rest are counted.
    static constexpr int kAlsoOpenShown = 8;
    static constexpr double kKeySnoozeSeconds = 600;

    MenuBarView(AppModel& model, UserCommands& commands, std::function<TimePoint()> now,
                LoopRow::IconLookup iconName, bool snapshotMode = false, QObject* parent = nullptr);

    LoopListModel* rows() { return &m_rows; }
    LoopListModel* alsoOpenRows() { return &m_alsoOpenRows; }
    int alsoOpenCount() const { return m_alsoOpenCount; }
    int alsoOpenMore() const { return std::max(0, m_alsoOpenCount - kAlsoOpenShown); }
    int readyCount() const;
    int openCount() const;
    bool isEmpty() const;
    bool isPaused() const;
    bool accessibilityGranted() const;
    SetupNotice* tracking() const;
    QString selectedID() const { return m_selectedID.value_or(QString()); }
    QVariantMap selectedCapsule() const { return m_selectedCapsule; }
    QString noteEditingID() const { return m_noteEditingID.value_or(QString()); }
    QString noteDraft() const { return m_noteDraft; }
    void setNoteDraft(const QString& draft);
    bool showAlsoOpen() const { return m_showAlsoOpen; }
    void setShowAlsoOpen(bool show);
    bool listFocused() const { return m_listFocused; }
    void setListFocused(bool focused);
    QString message() const { return m_message; }
    bool snapshotMode() const { return m_snapshotMode; }

    // A key pressed while the list has focus (Qt key code, its text); true when handled.
    Q_INVOKABLE bool keyPressed(int key, const QString& text);
    Q_INVOKABLE void select(const QString& id);

    // Row actions; each reports a failure in `message`.
    Q_INVOKABLE void open(const QString& id);
    Q_INVOKABLE void dismiss(const QString& id);
    Q_INVOKABLE void togglePin(const QString& id);
    Q_INVOKABLE void markNotReady(const QString& id);
    Q_INVOKABLE void watch(const QString& id);
    enum SnoozeChoice { TenMinutes, OneHour, UntilTomorrow };
    Q_ENUM(SnoozeChoice)
    Q_INVOKABLE void snooze(const QString& id, int choice);
    Q_INVOKABLE void approve(const QString& id);
    Q_INVOKABLE void deny(const QString& id);
    Q_INVOKABLE void startNote(const QString& id);
    Q_INVOKABLE void commitNote();
    Q_INVOKABLE void cancelNote();

    // Footer.
    Q_INVOKABLE void clearAll();
    Q_INVOKABLE void togglePause();
    Q_INVOKABLE void openSettings();
    Q_INVOKABLE void quit();
    Q_INVOKABLE void grantAccess();

    // Rebuilds the rows from the application model (after it refreshed).
    void reload();

Q_SIGNALS:
    void loopsChanged();
    void pausedChanged();
    void accessibilityChanged();
    void selectionChanged();
    void noteEditingChanged();
    void showAlsoOpenChanged();
    void listFocusedChanged();
    void messageChanged();
    // The surface should close (after "open", or before the settings window opens).
    void closeRequested();
    void settingsRequested();
    void quitRequested();

private:
    void report(const QString& failure);
    bool moveSelection(int step);
    std::optional<ContextRecord> loop(const QString& id) const;
    bool watchable(const QString& id) const;
    void loadCapsule();

    AppModel& m_model;
    UserCommands& m_commands;
    std::function<TimePoint()> m_now;
    LoopRow::IconLookup m_iconName;
    bool m_snapshotMode;
    LoopListModel m_rows;
    LoopListModel m_alsoOpenRows;
    int m_alsoOpenCount = 0;
    std::optional<QString> m_selectedID;
    QVariantMap m_selectedCapsule;
    std::optional<QString> m_noteEditingID;
    QString m_noteDraft;
    bool m_showAlsoOpen = false;
    bool m_listFocused = false;
    QString m_message;
};
