#pragma once

#include "model/ContextRecord.h"
#include "model/GroupedLoops.h"

#include <QColor>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// One loop as a dropdown row shows it: its lines, time, marks and which actions it offers.
struct LoopRow {
    // The status a row is drawn with, and its section.
    enum class Status { Ready, Working, Backgrounded, Stale, AlsoOpen };

    QString id;
    Status status = Status::Ready;
    QString title;    // what the loop is about
    QString subtitle; // the application, and the session's kind
    QString note;
    QString time; // compact ("5m")
    std::optional<QString> badge;
    std::optional<QString> siteLetter;
    std::optional<QColor> siteColor;
    std::optional<QString> iconName; // the application's icon in the icon theme
    bool hasFavicon = false;
    bool isPinned = false;
    bool canWatch = false;
    bool hasApproval = false;

    // Image addresses for the views: the page's favicon, else the application's icon; the AI
    // site's letter mark. Empty when there is none.
    QString iconSource() const;
    QString markSource() const;

    static QString sectionTitle(Status status);
    static QString statusName(Status status);

    // The bundle id of download loops, which have no process to watch.
    static inline const QString kDownloadsBundleID = QStringLiteral("app.kestrune.downloads");
    static bool canBeWatched(const ContextRecord& loop) {
        return !loop.isSession && loop.bundleID != kDownloadsBundleID;
    }

    using IconLookup = std::function<std::optional<QString>(const QString& bundleID)>;
    static LoopRow from(const ContextRecord& loop, Status status, TimePoint now,
                        const IconLookup& iconName, bool hasApproval);
    // The time a row shows: when it became ready, went to the background, or last changed.
    static TimePoint shownTime(const ContextRecord& loop, Status status);
};

// The dropdown's rows in keyboard order: "Ready", "Working", "Backgrounded", "Earlier",
// each sorted pinned first, then most recent first.
struct DropdownSections {
    QList<std::pair<ContextRecord, LoopRow::Status>> rows;
    QList<ContextRecord> alsoOpen; // newest first, all of them

    static DropdownSections from(const GroupedLoops& loops);
};
