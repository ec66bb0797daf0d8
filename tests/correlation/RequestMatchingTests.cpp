// Finding the user turn that carries a request we submitted.

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

using IDs = std::unordered_set<std::string>;

TEST(MatchingRequestIDs, FindsTheTurnByEnvelopeOrByItsNormalisedText)
{
    PendingRequest request = job("R1", std::nullopt, { Text("old") });
    request.payload = Text("Say \"hi\" to the 'team'\nand   then\n\nstop. \u6F22\u5B57 \U0001F44B");
    struct Case {
        const char* name;
        DotMessage turn;
        bool matches;
    };
    const std::vector<Case> cases = {
        { "envelope at the start", user("t", "[Quorvane request R1]\nsomething else"), true },
        { "envelope after white space", user("t", " \n [Quorvane request R1]"), true },
        { "envelope of a longer id", user("t", "[Quorvane request R12]\nx"), false },
        { "envelope inside the text", user("t", "Re: [Quorvane request R1]"), false },
        { "exact payload", user("t", request.payload), true },
        { "curly quotes and re-wrapped lines",
            user("t", "  Say \u201Chi\u201D to the \u2018team\u2019 and then stop.\n\u6F22\u5B57\u00A0\U0001F44B\n"),
            true },
        { "different case", user("t", "say \"hi\" to the 'team' and then stop. \u6F22\u5B57 \U0001F44B"), false },
        { "a word missing", user("t", "Say \"hi\" to the 'team' and then \u6F22\u5B57 \U0001F44B"), false },
        { "payload plus more", user("t", request.payload + " ok"), false },
        { "white space inside a word", user("t", "Sa y \"hi\" to the 'team' and then stop. \u6F22\u5B57 \U0001F44B"),
            false },
        { "assistant role", assistant("t", request.payload), false },
        { "echo with assistant role", assistant("t", "[Quorvane request R1]\nx"), false },
        { "baseline turn", user("old", request.payload), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(matchingRequestIDs(request, { c.turn }), c.matches ? IDs { c.turn.id.str() } : IDs {});
    }
}

TEST(MatchingRequestIDs, CollectsEveryMatchingTurn)
{
    PendingRequest request = job("R1", std::nullopt);
    std::vector<DotMessage> page = {
        user("a", "[Quorvane request R1]\nHello"),
        assistant("b", "Answer"),
        user("c", "Hello"),
        user("d", request.payload),
        user("d", request.payload),
    };
    EXPECT_EQ(matchingRequestIDs(request, page), (IDs { "a", "d" }));
}

TEST(MatchingTurn, IsTheOnlyMatchOrNothing)
{
    PendingRequest request = job("R1", std::nullopt, { Text("old") });
    struct Case {
        const char* name;
        std::vector<DotMessage> page;
        std::optional<std::string> turn;
    };
    const std::vector<Case> cases = {
        { "one match", { user("old", request.payload), user("t", request.payload), assistant("a", "Hi") }, "t" },
        { "one id read twice", { user("t", request.payload), user("t", request.payload) }, "t" },
        { "two matches", { user("t1", request.payload), user("t2", "[Quorvane request R1]") }, std::nullopt },
        { "none", { user("old", request.payload), assistant("a", request.payload) }, std::nullopt },
        { "empty page", {}, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(matchingTurn(request, c.page), c.turn);
    }
}

}  // namespace
}  // namespace quorvane
