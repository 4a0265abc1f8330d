#pragma once

#include "model/GroupedLoops.h"

#include <QList>
#include <QString>
#include <optional>

// What the island shows of the open loops: counts, the lead loops of the collapsed pill, and
// the board it drops down into. Pure functions of the grouped loops.
namespace NotchHUDModel {

enum class Status { Ready, Working, Backgrounded };
// "ready", "working", or nothing for a backgrounded loop.
std::optional<QString> word(Status status);

struct Row {
    ContextRecord record;
    Status status = Status::Ready;
};

struct Summary {
    int readyCount = 0;
    int workingCount = 0;
    bool isVisible() const { return readyCount > 0 || workingCount > 0; }
};

struct Board {
    QList<Row> rows;
    int overflowCount = 0;
};

struct Lead {
    std::optional<ContextRecord> working;
    std::optional<ContextRecord> ready;
    int workingCount = 0;
    int readyCount = 0;
    int extraWorking() const { return std::max(workingCount - 1, 0); }
    int extraReady() const { return std::max(readyCount - 1, 0); }
    bool isVisible() const { return workingCount > 0 || readyCount > 0; }
};

// The board's row limit the island uses.
inline constexpr int kBoardLimit = 7;

Summary summary(const GroupedLoops& loops);
Lead lead(const GroupedLoops& loops);
// Every ready row, then every working row, then backgrounded rows up to `limit` in all.
Board board(const GroupedLoops& loops, int limit);

// The line a loop is shown by: its prompt line or topic, else its note, else its cleaned
// title, else its application; at most 30 characters.
QString displayedTask(const ContextRecord& loop);
// The collapsed pill's two widths (in pixels), the same the island view lays out with.
double leadWidth(const Lead& lead);
double trailingWidth(const Lead& lead);

} // namespace NotchHUDModel
