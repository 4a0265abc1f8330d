#include "app/NotchGeometry.h"
#include "app/NotchHUDModel.h"

#include <gtest/gtest.h>

namespace {

ContextRecord loop(const char* id, ContextState state, qint64 minutesAgo) {
    ContextRecord record;
    record.id = QString::fromLatin1(id);
    record.bundleID = u"com.example."_qs + record.id;
    record.state = state;
    record.stateChangedAt = fromMillis(1'700'000'000'000 - minutesAgo * 60'000);
    if (state == ContextState::Ready)
        record.readyAt = record.stateChangedAt;
    else
        record.backgroundedAt = record.stateChangedAt;
    return record;
}

GroupedLoops loops(int ready, int working, int backgrounded) {
    GroupedLoops grouped;
    for (int i = 0; i < ready; ++i)
        grouped.ready.append(
            loop(qPrintable(QStringLiteral("R%1").arg(i)), ContextState::Ready, i));
    for (int i = 0; i < working; ++i)
        grouped.backgrounded.append(
            loop(qPrintable(QStringLiteral("W%1").arg(i)), ContextState::Waiting, 10 + i));
    for (int i = 0; i < backgrounded; ++i)
        grouped.backgrounded.append(
            loop(qPrintable(QStringLiteral("B%1").arg(i)), ContextState::Backgrounded, 20 + i));
    return grouped;
}

} // namespace

TEST(NotchHUDModelTest, SummaryLeadAndBoardFollowTheOrderAndTheLimit) {
    GroupedLoops grouped = loops(2, 1, 0);
    grouped.ready.swapItemsAt(0, 1); // the list's own order is not the lead's
    const auto summary = NotchHUDModel::summary(grouped);
    EXPECT_EQ(summary.readyCount, 2);
    EXPECT_EQ(summary.workingCount, 1);
    const auto lead = NotchHUDModel::lead(grouped);
    EXPECT_EQ(lead.ready->id, u"R0"_qs) << "the most recently ready";
    EXPECT_EQ(lead.working->id, u"W0"_qs);
    EXPECT_EQ(lead.extraReady(), 1);
    EXPECT_EQ(lead.extraWorking(), 0);

    const auto board = NotchHUDModel::board(loops(3, 2, 5), NotchHUDModel::kBoardLimit);
    EXPECT_EQ(board.rows.size(), 7);
    EXPECT_EQ(board.overflowCount, 3);
    EXPECT_EQ(board.rows.at(5).record.id, u"B0"_qs) << "backgrounded after ready and working";
    const auto full = NotchHUDModel::board(loops(8, 2, 4), NotchHUDModel::kBoardLimit);
    EXPECT_EQ(full.rows.size(), 10) << "ready and working rows are never cut";
    EXPECT_EQ(full.overflowCount, 4);
    EXPECT_FALSE(NotchHUDModel::summary(loops(0, 0, 3)).isVisible());
}

TEST(NotchHUDModelTest, TheCollapsedWidthsComeFromTheLeadTask) {
    ContextRecord working = loop("W", ContextState::Waiting, 1);
    working.label = u"(3) Building the release - Terminal"_qs;
    working.displayName = u"Terminal"_qs;
    EXPECT_EQ(NotchHUDModel::displayedTask(working), u"Building the release"_qs);
    working.note = u""_qs;
    EXPECT_EQ(NotchHUDModel::displayedTask(working), QString()) << "a note, even empty, wins";
    working.topic = u"A topic that is far longer than thirty characters"_qs;
    EXPECT_EQ(NotchHUDModel::displayedTask(working), u"A topic that is far longer tha"_qs);

    NotchHUDModel::Lead lead;
    lead.working = working;
    lead.workingCount = 1;
    EXPECT_DOUBLE_EQ(NotchHUDModel::leadWidth(lead), 30 * 12 * 0.58 + 23);
    EXPECT_EQ(NotchHUDModel::trailingWidth(lead), 61);
    lead.workingCount = 2;
    EXPECT_EQ(NotchHUDModel::trailingWidth(lead), 90);
    lead.readyCount = 1;
    EXPECT_EQ(NotchHUDModel::trailingWidth(lead), 131);
    lead.workingCount = 1;
    EXPECT_EQ(NotchHUDModel::trailingWidth(lead), 102);
    lead.working.reset();
    lead.workingCount = 0;
    EXPECT_DOUBLE_EQ(NotchHUDModel::trailingWidth(lead), 5 * 11 * 0.58 + 30);
    lead.readyCount = 3;
    EXPECT_DOUBLE_EQ(NotchHUDModel::trailingWidth(lead), 7 * 11 * 0.58 + 30) << "\"3 ready\"";
}

TEST(NotchGeometryTest, ThePillHangsUnderThePanelAndTheWorkedNumbersHold) {
    using namespace NotchGeometry;
    const Metrics pill{QRectF(0, 0, 1280, 800), 0, std::nullopt, 30};
    const QRectF collapsed = collapsedFrame(pill, 0, collapsedSize(pill, 40, 30).width());
    EXPECT_EQ(collapsed, QRectF(565, 36, 150, 28)) << "150 wide (the minimum), 6 under the panel";
    EXPECT_EQ(collapsedSize(pill, 300, 300).width(), 460);
    EXPECT_EQ(expandedFrame(pill, expandedSize(pill, 3, false)), QRectF(448, 36, 384, 237));

    // A screen to the right of another, and a size wider than the screen.
    const Metrics second{QRectF(1280, 0, 300, 600), 0, std::nullopt, 0};
    EXPECT_EQ(anchored(second, {384, 700}), QRectF(1280, 6, 300, 594));

    // Screens that report a camera housing keep the notch layout.
    const Metrics notched{QRectF(0, 0, 1512, 982), 32, 200.0, 37};
    EXPECT_EQ(expandedSize(notched, 3, false).height(), 269);
    EXPECT_EQ(expandedSize(notched, 10, false).height(), 504);
    EXPECT_EQ(expandedSize(notched, 10, true).height(), 534);
    EXPECT_EQ(collapsedSize(notched, 30, 20).width(), 328) << "wing 50 is below 64";
    EXPECT_EQ(collapsedSize(notched, 100, 20).width(), 440);
    EXPECT_EQ(topAnchorY(notched), 0);
}
