#include "model/RemoteApproval.h"

#include <gtest/gtest.h>

using namespace RemoteApproval;

TEST(RemoteApprovalTest, OnlyASafeApprovalBesideADenialIsAPromptToAnswer) {
    const QStringList approve = resolvedApprove(std::nullopt);
    const QStringList deny = resolvedDeny(std::nullopt);
    const auto prompt = [&](const QStringList& labels, bool generating = false) {
        return pending(labels, generating, approve, deny);
    };
    EXPECT_EQ(prompt({u"Allow once"_qs, u"Deny"_qs}), (Pending{true, true, {}}));
    EXPECT_FALSE(prompt({u"Always allow"_qs, u"Deny"_qs})) << "the only approval widens";
    EXPECT_FALSE(prompt({u"Allow"_qs, u"Allow for this session"_qs})) << "no denial";
    EXPECT_FALSE(prompt({u"Allow once"_qs, u"Deny"_qs}, true)) << "not while generating";
    EXPECT_FALSE(prompt({}));
    EXPECT_EQ(prompt({u"Don\u2019t allow"_qs, u"Approve"_qs}), (Pending{true, true, {}}))
        << "a typographic apostrophe is a denial, never an approval";
    EXPECT_EQ(classify(u"Don't Allow"_qs, approve, deny), Kind::Deny);
    EXPECT_EQ(classify(u"Send"_qs, approve, deny), Kind::Other);

    const QStringList withRun = resolvedApprove(QStringList{u"Run"_qs});
    EXPECT_EQ(withRun.constFirst(), u"run"_qs) << "the user's terms first, lower-cased";
    EXPECT_EQ(classify(u"Run"_qs, withRun, deny), Kind::Approve);
    EXPECT_TRUE(pending({u"Run"_qs, u"Reject"_qs}, false, withRun, deny));
    EXPECT_FALSE(Pending{}.isActionable());
    EXPECT_TRUE((Pending{false, false, {u"Option"_qs}}).isActionable());
}
