#include "ui/MenuBarView.h"

#include "app/AppModel.h"
#include "app/UserCommands.h"
#include "model/ReturnActionKind.h"

namespace {

QVariantMap capsuleMap(const CapsuleRecord& capsule) {
    QVariantMap map;
    map.insert(QStringLiteral("id"), capsule.context.id);
    map.insert(QStringLiteral("note"), capsule.context.note.value_or(QString()));
    map.insert(QStringLiteral("promptLine"), capsule.context.promptLine.value_or(QString()));
    if (capsule.latestSignal) {
        map.insert(QStringLiteral("detector"), capsule.latestSignal->detectorKind);
        map.insert(QStringLiteral("signal"), capsule.latestSignal->signal);
    }
    if (capsule.documentRef) {
        map.insert(
            QStringLiteral("document"),
            capsule.documentRef->title.value_or(capsule.documentRef->locator.value_or(QString())));
    }
    QStringList ways;
    for (const ReturnActionRecord& action : capsule.returnActions) {
        if (action.isValid)
            ways.append(action.label.value_or(ReturnActionKinds::rawValue(action.kind)));
    }
    map.insert(QStringLiteral("returnActions"), ways);
    return map;
}

} // namespace

MenuBarView::MenuBarView(AppModel& model, UserCommands& commands, std::function<TimePoint()> now,
                         LoopRow::IconLookup iconName, bool snapshotMode, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_commands(commands)
    , m_now(std::move(now))
    , m_iconName(std::move(iconName))
    , m_snapshotMode(snapshotMode) {
    connect(&m_model, &AppModel::loopsChanged, this, &MenuBarView::reload);
    connect(&m_model, &AppModel::pendingApprovalsChanged, this, &MenuBarView::reload);
    connect(&m_model, &AppModel::pausedChanged, this, &MenuBarView::pausedChanged);
    connect(&m_model.permissions(), &Permissions::accessibilityGrantedChanged, this,
            &MenuBarView::accessibilityChanged);
    reload();
}

int MenuBarView::readyCount() const {
    return static_cast<int>(m_model.loops().ready.size());
}
int MenuBarView::openCount() const {
    return static_cast<int>(m_model.loops().openCount());
}
bool MenuBarView::isEmpty() const {
    return m_rows.rowCount() == 0 && m_alsoOpenCount == 0;
}
bool MenuBarView::isPaused() const {
    return m_model.isPaused();
}
bool MenuBarView::accessibilityGranted() const {
    return m_model.permissions().accessibilityGranted();
}
SetupNotice* MenuBarView::tracking() const {
    return &m_model.trackingNotice();
}

void MenuBarView::reload() {
    const DropdownSections sections = DropdownSections::from(m_model.loops());
    const TimePoint now = m_now();
    const auto row = [&](const ContextRecord& loop, LoopRow::Status status) {
        return LoopRow::from(loop, status, now, m_iconName, m_model.hasPendingApproval(loop.id));
    };
    QList<LoopRow> rows;
    for (const auto& [loop, status] : sections.rows)
        rows.append(row(loop, status));
    QList<LoopRow> alsoOpen;
    for (const ContextRecord& loop : sections.alsoOpen.mid(0, kAlsoOpenShown))
        alsoOpen.append(row(loop, LoopRow::Status::AlsoOpen));
    m_alsoOpenCount = static_cast<int>(sections.alsoOpen.size());
    m_rows.setRows(std::move(rows));
    m_alsoOpenRows.setRows(std::move(alsoOpen));

    // A selection or note whose loop left the list goes with it.
    const auto listed = [this](const std::optional<QString>& id) {
        if (!id)
            return false;
        for (const LoopListModel* list : {&m_rows, &m_alsoOpenRows}) {
            for (const LoopRow& shown : list->rows()) {
                if (shown.id == *id)
                    return true;
            }
        }
        return false;
    };
    if (m_noteEditingID && !listed(m_noteEditingID))
        cancelNote();
    if (m_selectedID && !listed(m_selectedID)) {
        m_selectedID.reset();
        m_selectedCapsule.clear();
        Q_EMIT selectionChanged();
    } else if (m_selectedID) {
        loadCapsule();
    }
    Q_EMIT loopsChanged();
}

void MenuBarView::setNoteDraft(const QString& draft) {
    if (draft == m_noteDraft)
        return;
    m_noteDraft = draft;
    Q_EMIT noteEditingChanged();
}

void MenuBarView::setShowAlsoOpen(bool show) {
    if (show == m_showAlsoOpen)
        return;
    m_showAlsoOpen = show;
    Q_EMIT showAlsoOpenChanged();
}

void MenuBarView::setListFocused(bool focused) {
    if (focused == m_listFocused)
        return;
    m_listFocused = focused;
    Q_EMIT listFocusedChanged();
}

void MenuBarView::report(const QString& failure) {
    if (failure == m_message)
        return;
    m_message = failure;
    Q_EMIT messageChanged();
}

std::optional<ContextRecord> MenuBarView::loop(const QString& id) const {
    const GroupedLoops& loops = m_model.loops();
    for (const QList<ContextRecord>* group :
         {&loops.ready, &loops.backgrounded, &loops.stale, &loops.alsoOpen}) {
        for (const ContextRecord& record : *group) {
            if (record.id == id)
                return record;
        }
    }
    return std::nullopt;
}

bool MenuBarView::watchable(const QString& id) const {
    const std::optional<ContextRecord> record = loop(id);
    return record && LoopRow::canBeWatched(*record);
}

void MenuBarView::loadCapsule() {
    m_selectedCapsule.clear();
    if (m_selectedID) {
        if (const std::optional<CapsuleRecord> capsule = m_model.capsule(*m_selectedID))
            m_selectedCapsule = capsuleMap(*capsule);
    }
    Q_EMIT selectionChanged();
}

void MenuBarView::select(const QString& id) {
    m_selectedID = id.isEmpty() ? std::nullopt : std::optional(id);
    loadCapsule();
}

bool MenuBarView::moveSelection(int step) {
    const QList<LoopRow>& rows = m_rows.rows();
    if (rows.isEmpty())
        return false;
    qsizetype index = -1;
    for (qsizetype i = 0; m_selectedID && i < rows.size(); ++i) {
        if (rows.at(i).id == *m_selectedID)
            index = i;
    }
    // Nothing selected: the first row; otherwise one step, stopping at either end.
    const qsizetype next = index < 0 ? 0 : std::clamp<qsizetype>(index + step, 0, rows.size() - 1);
    select(rows.at(next).id);
    return true;
}

bool MenuBarView::keyPressed(int key, const QString& text) {
    if (!m_listFocused || m_noteEditingID)
        return false;
    if (key == Qt::Key_Down || key == Qt::Key_Up)
        return moveSelection(key == Qt::Key_Down ? 1 : -1);
    if (!m_selectedID)
        return false;
    const QString id = *m_selectedID;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        open(id);
        return true;
    }
    if (text == u"d") {
        dismiss(id);
    } else if (text == u"s") {
        report(m_commands.snooze(id, QString::number(kKeySnoozeSeconds)));
    } else if (text == u"p") {
        togglePin(id);
    } else if (text == u"n") {
        startNote(id);
    } else if (text == u"w") {
        if (!watchable(id))
            return false;
        watch(id);
    } else {
        return false;
    }
    return true;
}

void MenuBarView::open(const QString& id) {
    const QString failure = m_commands.open(id);
    report(failure);
    if (failure.isEmpty())
        Q_EMIT closeRequested();
}

void MenuBarView::dismiss(const QString& id) {
    report(m_commands.dismiss(id));
}

void MenuBarView::togglePin(const QString& id) {
    report(m_commands.togglePin(id));
}

void MenuBarView::markNotReady(const QString& id) {
    report(m_commands.markNotReady(id));
}

void MenuBarView::watch(const QString& id) {
    if (!watchable(id))
        return;
    report(m_commands.watch(id));
    m_model.refresh();
}

void MenuBarView::snooze(const QString& id, int choice) {
    switch (choice) {
    case TenMinutes:
        report(m_commands.snooze(id, QStringLiteral("600")));
        break;
    case OneHour:
        report(m_commands.snooze(id, QStringLiteral("3600")));
        break;
    case UntilTomorrow:
        report(m_commands.snooze(id, QStringLiteral("tomorrow")));
        break;
    default:
        break;
    }
}

void MenuBarView::approve(const QString& id) {
    if (const std::optional<ContextRecord> record = loop(id))
        m_model.respond(AppModel::Response::Approve, *record);
}

void MenuBarView::deny(const QString& id) {
    if (const std::optional<ContextRecord> record = loop(id))
        m_model.respond(AppModel::Response::Deny, *record);
}

void MenuBarView::startNote(const QString& id) {
    const std::optional<ContextRecord> record = loop(id);
    if (!record)
        return;
    m_noteEditingID = id;
    m_noteDraft = record->note.value_or(QString());
    Q_EMIT noteEditingChanged();
}

void MenuBarView::commitNote() {
    if (!m_noteEditingID)
        return;
    const QString id = *m_noteEditingID;
    const QString draft = m_noteDraft;
    m_noteEditingID.reset();
    m_noteDraft.clear();
    Q_EMIT noteEditingChanged();
    report(m_commands.setNote(id, draft));
}

void MenuBarView::cancelNote() {
    if (!m_noteEditingID)
        return;
    m_noteEditingID.reset();
    m_noteDraft.clear();
    Q_EMIT noteEditingChanged();
}

void MenuBarView::clearAll() {
    report(m_commands.clearAll());
}

void MenuBarView::togglePause() {
    m_model.togglePause();
}

void MenuBarView::openSettings() {
    Q_EMIT closeRequested();
    Q_EMIT settingsRequested();
}

void MenuBarView::quit() {
    Q_EMIT quitRequested();
}

void MenuBarView::grantAccess() {
    m_model.permissions().requestAccessibility();
}
