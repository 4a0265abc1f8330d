#include "DropdownFixture.h"

namespace {

using State = ContextState;

class MenuBarViewTest : public DropdownFixture {};

} // namespace

TEST_F(MenuBarViewTest, SectionsComeInOrderWithTheirCountsAndAlsoOpenShowsEight) {
    EXPECT_TRUE(menu->isEmpty());
    EXPECT_EQ(menu->openCount(), 0);

    const QString ready = add("com.example.Chat", State::Ready, 2);
    const QString working = add("org.example.Term", State::Waiting, 5, u"build"_qs);
    const QString away = add("org.example.Mail", State::Backgrounded, 10, u"reply"_qs);
    const QString earlier = add("org.example.Doc", State::Stale, 60, u"finish"_qs);
    for (int i = 0; i < 12; ++i)
        add(QStringLiteral("org.example.Open%1").arg(i).toLatin1().constData(), State::Backgrounded,
            20 + i);

    // A waiting loop is "Working", never "Backgrounded", though both share a group.
    EXPECT_EQ(shownIDs(), (QStringList{ready, working, away, earlier}));
    QStringList sections;
    for (const LoopRow& row : menu->rows()->rows())
        sections.append(LoopRow::sectionTitle(row.status));
    EXPECT_EQ(sections,
              (QStringList{u"Ready"_qs, u"Working"_qs, u"Backgrounded"_qs, u"Earlier"_qs}));
    EXPECT_EQ(menu->readyCount(), 1);
    EXPECT_EQ(menu->openCount(), 4);
    EXPECT_FALSE(menu->isEmpty());
    EXPECT_EQ(menu->alsoOpenCount(), 12);
    EXPECT_EQ(menu->alsoOpenRows()->rowCount(), 8);
    EXPECT_EQ(menu->alsoOpenMore(), 4);

    // Pinned first inside a section, then the most recent.
    const QString older = add("com.example.Older", State::Ready, 30);
    model->store()->setPinned(older, true);
    model->refresh();
    EXPECT_EQ(shownIDs().mid(0, 2), (QStringList{older, ready}));
    EXPECT_EQ(menu->rows()->rows().constFirst().time, u"30m"_qs);
}

TEST_F(MenuBarViewTest, TheKeyboardStopsAtTheEdgesAndActsOnTheSelectedRow) {
    EXPECT_FALSE(key(Qt::Key_Down)) << "no rows: nothing happens";
    const QString first = add("com.example.Chat", State::Ready, 2);
    const QString second = add("org.example.Mail", State::Backgrounded, 10, u"reply"_qs);
    const QString third = add("org.example.Doc", State::Stale, 60, u"finish"_qs);

    EXPECT_FALSE(letter('d')) << "nothing selected";
    EXPECT_TRUE(key(Qt::Key_Down));
    EXPECT_EQ(menu->selectedID(), first);
    EXPECT_EQ(menu->selectedCapsule().value(u"id"_qs), first) << "the detail follows";
    EXPECT_TRUE(key(Qt::Key_Up));
    EXPECT_EQ(menu->selectedID(), first) << "no wrap-around at the top";
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(menu->selectedID(), third) << "the last row keeps the selection";
    EXPECT_FALSE(letter('x'));

    EXPECT_TRUE(letter('p'));
    EXPECT_TRUE(model->store()->context(third)->isPinned);
    EXPECT_TRUE(letter('s'));
    EXPECT_EQ(model->store()->context(third)->snoozeUntil, clock + std::chrono::seconds(600));
    EXPECT_FALSE(shownIDs().contains(third));
    EXPECT_TRUE(menu->selectedID().isEmpty()) << "its row is gone";

    menu->select(second);
    EXPECT_TRUE(letter('d'));
    EXPECT_TRUE(model->store()->context(second)->dismissedAt.has_value());

    // Return goes back to the loop and closes the dropdown, unless nothing can take it there.
    int closing = 0;
    QObject::connect(menu.get(), &MenuBarView::closeRequested, [&] { ++closing; });
    menu->select(first);
    EXPECT_TRUE(key(Qt::Key_Return));
    EXPECT_EQ(closing, 0);
    EXPECT_FALSE(menu->message().isEmpty());
    launch(10, "com.example.Chat", "Claude");
    EXPECT_TRUE(key(Qt::Key_Return));
    EXPECT_EQ(closing, 1);
    EXPECT_TRUE(menu->message().isEmpty());

    menu->setListFocused(false);
    EXPECT_FALSE(key(Qt::Key_Down)) << "the list does not have the keyboard";
}

TEST_F(MenuBarViewTest, NotesAreTypedInPlaceAndWatchingIsRefusedForDownloadsAndSessions) {
    const QString mail = add("org.example.Mail", State::Backgrounded, 10, u"reply"_qs);
    const QString download = add("app.kestrune.downloads", State::Ready, 1);
    const QString session = add("claude-code", State::Ready, 3, std::nullopt, u"claude_code"_qs);

    menu->select(mail);
    EXPECT_TRUE(letter('n'));
    EXPECT_EQ(menu->noteEditingID(), mail);
    EXPECT_EQ(menu->noteDraft(), u"reply"_qs) << "starts from the current note";
    EXPECT_FALSE(letter('d')) << "a d typed into the note is the note's";
    EXPECT_FALSE(model->store()->context(mail)->dismissedAt.has_value());
    menu->setNoteDraft(u"reply to Dana by Friday"_qs);
    menu->commitNote();
    EXPECT_EQ(model->store()->context(mail)->note, u"reply to Dana by Friday"_qs);
    EXPECT_TRUE(menu->noteEditingID().isEmpty());

    // A loop that leaves the list takes its note editor with it.
    menu->startNote(mail);
    commands->dismiss(mail);
    EXPECT_TRUE(menu->noteEditingID().isEmpty());

    for (const QString& id : {download, session}) {
        menu->select(id);
        EXPECT_FALSE(letter('w'));
        const auto row = std::find_if(menu->rows()->rows().begin(), menu->rows()->rows().end(),
                                      [&](const LoopRow& shown) { return shown.id == id; });
        ASSERT_NE(row, menu->rows()->rows().end());
        EXPECT_FALSE(row->canWatch);
    }
    EXPECT_EQ(menu->rows()->rows().constLast().subtitle, u"claude-code · Claude Code"_qs);
}
