#include "ui/LoopRow.h"

#include "model/LoopDisplayText.h"
#include "model/RelativeTime.h"

#include <QUrl>
#include <algorithm>

QString LoopRow::sectionTitle(Status status) {
    switch (status) {
    case Status::Ready:
        return QStringLiteral("Ready");
    case Status::Working:
        return QStringLiteral("Working");
    case Status::Backgrounded:
        return QStringLiteral("Backgrounded");
    case Status::Stale:
        return QStringLiteral("Earlier");
    case Status::AlsoOpen:
        return QStringLiteral("Also open");
    }
    return {};
}

QString LoopRow::statusName(Status status) {
    switch (status) {
    case Status::Ready:
        return QStringLiteral("ready");
    case Status::Working:
        return QStringLiteral("working");
    case Status::Backgrounded:
        return QStringLiteral("backgrounded");
    case Status::Stale:
        return QStringLiteral("stale");
    case Status::AlsoOpen:
        return QStringLiteral("alsoOpen");
    }
    return {};
}

QString LoopRow::iconSource() const {
    if (hasFavicon)
        return QStringLiteral("image://loop/favicon/") +
               QString::fromUtf8(QUrl::toPercentEncoding(id));
    if (iconName && !iconName->isEmpty())
        return QStringLiteral("image://loop/app/") +
               QString::fromUtf8(QUrl::toPercentEncoding(*iconName));
    return {};
}

QString LoopRow::markSource() const {
    if (!siteLetter || !siteColor)
        return {};
    return QStringLiteral("image://loop/site/%1/%2")
        .arg(QString::fromUtf8(QUrl::toPercentEncoding(*siteLetter)), siteColor->name().mid(1));
}

TimePoint LoopRow::shownTime(const ContextRecord& loop, Status status) {
    if (status == Status::Ready && loop.readyAt)
        return *loop.readyAt;
    if (status == Status::Backgrounded && loop.backgroundedAt)
        return *loop.backgroundedAt;
    return loop.stateChangedAt;
}

LoopRow LoopRow::from(const ContextRecord& loop, Status status, TimePoint now,
                      const IconLookup& iconName, bool hasApproval) {
    LoopRow row;
    row.id = loop.id;
    row.status = status;
    const QString application = loop.displayName.value_or(loop.bundleID);
    // What it is about: the AI topic, the prompt, the cleaned title, else the application.
    const auto nonEmpty = [](const std::optional<QString>& text) -> std::optional<QString> {
        return text && !text->trimmed().isEmpty() ? std::optional(text->trimmed()) : std::nullopt;
    };
    std::optional<QString> title = nonEmpty(loop.topic);
    if (!title)
        title = nonEmpty(loop.promptLine);
    if (!title)
        title = LoopDisplay::cleanTitle(loop.label, loop.displayName);
    row.title = title.value_or(application);
    row.badge = LoopDisplay::sessionKindBadge(loop.detectorKind);
    row.subtitle = row.badge && *row.badge != application
                       ? application + QStringLiteral(" · ") + *row.badge
                       : application;
    row.note = loop.note.value_or(QString());
    row.time = RelativeTime::compact(shownTime(loop, status), now);
    std::optional<AISiteMark::Site> site = AISiteMark::detectForBundleID(loop.bundleID);
    if (!site)
        site = AISiteMark::detect(loop.label);
    if (site) {
        row.siteLetter = site->letter;
        row.siteColor =
            QColor::fromRgbF(static_cast<float>(site->red), static_cast<float>(site->green),
                             static_cast<float>(site->blue));
    }
    if (iconName)
        row.iconName = iconName(loop.bundleID);
    row.hasFavicon = loop.favicon && !loop.favicon->isEmpty();
    row.isPinned = loop.isPinned;
    row.canWatch = canBeWatched(loop);
    row.hasApproval = hasApproval;
    return row;
}

DropdownSections DropdownSections::from(const GroupedLoops& loops) {
    using Status = LoopRow::Status;
    const auto section = [](QList<ContextRecord> group, Status status) {
        std::stable_sort(group.begin(), group.end(),
                         [status](const ContextRecord& a, const ContextRecord& b) {
                             if (a.isPinned != b.isPinned)
                                 return a.isPinned;
                             return LoopRow::shownTime(a, status) > LoopRow::shownTime(b, status);
                         });
        QList<std::pair<ContextRecord, Status>> rows;
        for (const ContextRecord& loop : group)
            rows.append({loop, status});
        return rows;
    };
    QList<ContextRecord> working;
    QList<ContextRecord> backgrounded;
    for (const ContextRecord& loop : loops.backgrounded) {
        if (loop.state == ContextState::Waiting)
            working.append(loop);
        else if (loop.state == ContextState::Backgrounded)
            backgrounded.append(loop);
    }

    DropdownSections sections;
    sections.rows = section(loops.ready, Status::Ready) + section(working, Status::Working) +
                    section(backgrounded, Status::Backgrounded) +
                    section(loops.stale, Status::Stale);
    for (const auto& [loop, status] : section(loops.alsoOpen, Status::AlsoOpen))
        sections.alsoOpen.append(loop);
    return sections;
}
