#include "app/WindowRaiser.h"
#include "app/WindowMatcher.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace {

QList<std::optional<QString>> titles(std::initializer_list<const char*> list) {
    QList<std::optional<QString>> result;
    for (const char* title : list)
        result.append(title ? std::optional<QString>(QString::fromUtf8(title)) : std::nullopt);
    return result;
}

} // namespace

TEST(WindowMatcherTest, TheSameKeyFirstThenABeginningEitherWay) {
    EXPECT_EQ(WindowMatcher::index(titles({"Build — project", "Docs"}), u"docs"_qs), 1)
        << "first pass, whatever the case";
    EXPECT_EQ(WindowMatcher::index(titles({"feature-branch — zsh — 80×24"}), u"feature-branch"_qs),
              0)
        << "second pass: the title's key begins with the identity's";
    EXPECT_EQ(WindowMatcher::index(titles({"project notes"}), u"project notes later"_qs), 0)
        << "second pass: the title's key is a beginning of the identity's";
    EXPECT_EQ(
        WindowMatcher::index(titles({"project notes later", "project notes"}), u"project notes"_qs),
        1)
        << "an exact match anywhere wins over a beginning earlier";
    EXPECT_EQ(WindowMatcher::index(titles({nullptr, "Mail"}), u"mail"_qs), 1);
    EXPECT_EQ(WindowMatcher::index(titles({"Mail"}), std::nullopt), std::nullopt);
    EXPECT_EQ(WindowMatcher::index(titles({"Mail"}), u"   "_qs), std::nullopt);
    EXPECT_EQ(WindowMatcher::index({}, u"mail"_qs), std::nullopt);
    EXPECT_EQ(WindowMatcher::index(titles({"Calendar"}), u"mail"_qs), std::nullopt);
}

class WindowRaiserTest : public ::testing::Test {
protected:
    FakeWorkspace workspace;
    MemoryUserDefaults settings;

    void SetUp() override {
        workspace.launch(RunningApplication{u"org.gnome.Terminal"_qs, {}, 10, true});
        workspace.openWindow(10, 100, u"me@box: ~/api"_qs);
        workspace.openWindow(10, 101, u"feature-branch — zsh — 80×24"_qs);
        workspace.setMinimized(101, true);
        workspace.launch(RunningApplication{u"org.example.Custom"_qs, {}, 20, true});
        workspace.openWindow(20, 200, u"agent session"_qs);
    }
};

TEST_F(WindowRaiserTest, TheMatchingWindowOfTheApplicationIsRaised) {
    const WindowRaiser raiser(workspace);
    EXPECT_TRUE(raiser.raiseWindow(u"org.gnome.Terminal"_qs, u"feature-branch"_qs));
    EXPECT_EQ(workspace.lastRaisedWindow(), 101u) << "the minimised one, brought back";
    EXPECT_FALSE(workspace.windows(10).at(1).isMinimized);
    EXPECT_EQ(workspace.frontmostApplication()->pid, 10);
    EXPECT_FALSE(raiser.raiseWindow(u"org.gnome.Terminal"_qs, u"docs"_qs)) << "no such window";
    EXPECT_FALSE(raiser.raiseWindow(u"org.example.Missing"_qs, u"docs"_qs)) << "not running";
}

TEST_F(WindowRaiserTest, TerminalHostsAreTheKnownTerminalsThenTheUsersOwn) {
    const TerminalWindowRaiser terminals(workspace, settings);
    QStringList hosts = terminals.hostBundleIDs();
    EXPECT_EQ(hosts.first(), u"com.googlecode.iterm2"_qs);
    EXPECT_TRUE(hosts.contains(u"org.gnome.Terminal"_qs)) << "every terminal the detector follows";
    EXPECT_EQ(hosts.count(u"com.apple.Terminal"_qs), 1);

    EXPECT_FALSE(terminals.raise(u"agent session"_qs)) << "not a terminal host";
    settings.setStringList(u"settings.terminalHostBundleIDs"_qs,
                           {u"com.apple.Terminal"_qs, u"org.example.Custom"_qs});
    hosts = terminals.hostBundleIDs();
    EXPECT_EQ(hosts.count(u"com.apple.Terminal"_qs), 1) << "not listed twice";
    EXPECT_EQ(hosts.last(), u"org.example.Custom"_qs) << "after the built-in hosts";
    EXPECT_TRUE(terminals.raise(u"agent session"_qs)) << "read at every call";
    EXPECT_EQ(workspace.lastRaisedWindow(), 200u);

    EXPECT_FALSE(terminals.raise(u" \t "_qs)) << "blanks never raise a window";
    EXPECT_FALSE(terminals.raise(std::nullopt));
    EXPECT_TRUE(terminals.raise(u"me@box: ~/api"_qs));
    EXPECT_EQ(workspace.lastRaisedWindow(), 100u);
}
