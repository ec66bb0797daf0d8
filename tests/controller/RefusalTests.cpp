// Page actions that do not simply work. A refusal means nothing reached the conversation, so the
// request is tried again 2 s later, three times at most; an unknown outcome may have reached it,
// so the request is never sent again blindly but becomes uncertain.

#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

using Outcome = FakePage::Outcome;

class RefusalTest : public RunLoopTest { };

TEST_F(RefusalTest, OutcomesOfPageActions)
{
    struct Case {
        const char* name;
        std::deque<Outcome> prepare, send;
        JobPhase phase;  // after 20 s
        const char* status;
        std::size_t prepares, sends;
        const char* note;
    };
    const std::vector<Case> cases = {
        { "refused send, three times", {}, { Outcome::refuse, Outcome::refuse, Outcome::refuse }, JobPhase::failed,
            "failed", 1, 3, "Your message is saved, but couldn\u2019t be sent yet." },
        { "refused placing, three times", { Outcome::refuse, Outcome::refuse, Outcome::refuse }, {}, JobPhase::failed,
            "failed", 3, 0, "Your message is saved, but couldn\u2019t be sent yet." },
        { "unknown outcome of placing: nothing was submitted", { Outcome::unknown }, {}, JobPhase::waiting, "waiting",
            2, 1, "" },
        { "refused once, then sent", {}, { Outcome::refuse }, JobPhase::waiting, "waiting", 1, 2, "" },
        // Only the request's own text stands in the composer: the delivery checks have begun.
        { "unknown outcome of sending", {}, { Outcome::unknown }, JobPhase::uncertain, "uncertain", 1, 1,
            "Checking delivery automatically\u2026" },
        { "sent, but the answer was lost", {}, { Outcome::sentUnknown }, JobPhase::waiting, "waiting", 1, 1, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        startConnected();
        page().prepareOutcomes = c.prepare;
        page().sendOutcomes = c.send;
        const std::string id = send("Try me");
        advance(20);
        ASSERT_TRUE(job(id));
        EXPECT_EQ(job(id)->phase, c.phase);
        EXPECT_EQ(statusOf(id), c.status);
        EXPECT_EQ(job(id)->note, c.note);
        EXPECT_EQ(page().count("prepare"), c.prepares);
        EXPECT_EQ(page().count("send"), c.sends);
        // Attempts after a refusal are at least 2 s apart.
        std::vector<double> attempts = page().timesOf(c.send.empty() ? "prepare" : "send");
        for (std::size_t i = 1; i < attempts.size(); ++i)
            EXPECT_GE(attempts[i] - attempts[i - 1], 2);
    }
}

TEST_F(RefusalTest, FailedRequestIsNotTriedAgain)
{
    startConnected();
    page().prepareOutcomes = { Outcome::refuse, Outcome::refuse, Outcome::refuse };
    const std::string id = send("Try me");
    advance(20);
    ASSERT_EQ(job(id)->phase, JobPhase::failed);
    EXPECT_EQ(job(id)->attempts, std::optional<std::int64_t>(3));
    advance(60);
    EXPECT_EQ(page().count("prepare"), 3u);
    EXPECT_EQ(job(id)->phase, JobPhase::failed);
}

TEST_F(RefusalTest, HungActionEndsAtItsDeadlineAsAnUnknownOutcome)
{
    startConnected();
    page().sendOutcomes = { Outcome::hang };
    const std::string id = send("Anyone?");
    advance(5);
    EXPECT_TRUE(controller->busy) << "the turn waits for the page";
    EXPECT_EQ(job(id)->phase, JobPhase::submitting);
    advance(page().deadline);
    EXPECT_FALSE(controller->busy);
    EXPECT_EQ(job(id)->phase, JobPhase::uncertain);
    EXPECT_EQ(page().count("send"), 1u);
}

}  // namespace
}  // namespace quorvane::testing
