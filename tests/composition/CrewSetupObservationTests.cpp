#include <functional>

#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

DotMessage pageMessage(std::string_view id, std::string_view role, std::string_view text)
{
    DotMessage message;
    message.id = id;
    message.role = role;
    message.text = text;
    return message;
}

// What a page may do to the text it shows: keep the first line, then re-wrap every space as a
// line break or a no-break space and turn straight quotes into typographic ones.
std::string prettified(std::string_view payload)
{
    std::string out;
    auto firstLine = payload.find('\n');
    out.append(payload.substr(0, firstLine + 1));
    bool openQuote = true;
    bool wrap = true;
    for (char c : payload.substr(firstLine + 1)) {
        if (c == ' ') {
            out += wrap ? "\n" : "\u00A0";
            wrap = !wrap;
        } else if (c == '"') {
            out += openQuote ? "\u201C" : "\u201D";
            openQuote = !openQuote;
        } else if (c == '\'') {
            out += "\u2019";
        } else if (c == '\n') {
            out += "\n\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

class ObserveCrewSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        account = accountWith(
            { makeBot("nova", "Nova", "Plans launches. Says \"hi\" and Dot's fine."), makeBot("rex", "Rex") });
        job = PendingRequest::make("REQ", botNamed(account, "nova"), "Hello");
        job.replyToken = "0123456789ab";
        account.configurePayload(job, botNamed(account, "nova"), "Hello");
        job.phase = JobPhase::waiting;
        job.baseline = { "old" };
    }

    std::string marker() const { return "[Crew revision: " + *job.crewSetupRevision + "]"; }

    Account account;
    PendingRequest job;
};

TEST_F(ObserveCrewSetup, RecordsTheSetupOnceTheTurnIsAnswered)
{
    ASSERT_TRUE(job.crewSetupBody);
    const std::string reply = "[qv:0123456789ab]\nHi, Nova here.";
    const std::string prettyPage = prettified(job.payload);
    ASSERT_EQ(prettyPage.find(marker()), std::string::npos);  // only the loose comparison can recognise it

    struct Case {
        const char* name;
        std::function<std::vector<DotMessage>()> page;
        std::function<void(Account&, PendingRequest&)> adjust;
        bool installs;
    };
    auto same = [](Account&, PendingRequest&) {};
    const Case cases[] = {
        { "turn as typed, then a reply",
            [&] {
                return std::vector { pageMessage("old", "user", "earlier"), pageMessage("t", "user", job.payload),
                    pageMessage("a", "assistant", reply) };
            },
            same, true },
        { "re-wrapped with typographic quotes",
            [&] {
                return std::vector { pageMessage("t", "user", prettyPage), pageMessage("a", "assistant", reply) };
            },
            same, true },
        { "only the revision marker survives",
            [&] {
                return std::vector { pageMessage("t", "user",
                                         "[Quorvane request REQ]\n" + marker() + "\n(shortened by the page)"),
                    pageMessage("a", "assistant", reply) };
            },
            same, true },
        { "reply after an empty assistant message",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("e", "assistant", ""),
                    pageMessage("a", "assistant", reply) };
            },
            same, true },
        { "setup cut short and no marker",
            [&] {
                std::string cut = prettyPage.substr(0, prettyPage.find("[End"));
                return std::vector { pageMessage("t", "user", cut), pageMessage("a", "assistant", reply) };
            },
            same, false },
        { "setup changed by one word",
            [&] {
                std::string changed = prettyPage;
                changed.replace(changed.find("sequentially"), 12, "in parallel");
                return std::vector { pageMessage("t", "user", changed), pageMessage("a", "assistant", reply) };
            },
            same, false },
        { "no reply yet", [&] { return std::vector { pageMessage("t", "user", job.payload) }; }, same, false },
        { "reply without content",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("a", "assistant", "") };
            },
            same, false },
        { "answer belongs to a later turn",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("u2", "user", "something else"),
                    pageMessage("a", "assistant", reply) };
            },
            same, false },
        { "two turns carry this request",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("a", "assistant", reply),
                    pageMessage("t2", "user", job.payload), pageMessage("a2", "assistant", reply) };
            },
            same, false },
        { "turn was already on the page before sending",
            [&] {
                return std::vector { pageMessage("old", "user", job.payload), pageMessage("a", "assistant", reply) };
            },
            same, false },
        { "setup was composed for another conversation",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("a", "assistant", reply) };
            },
            [](Account& a, PendingRequest&) { a.dotURL = "https://dot.example/dots/NEW"; }, false },
        { "job carries no setup",
            [&] {
                return std::vector { pageMessage("t", "user", job.payload), pageMessage("a", "assistant", reply) };
            },
            [](Account&, PendingRequest& j) {
                j.crewSetupRevision.reset();
                j.crewSetupBody.reset();
                j.crewSetupURL.reset();
            },
            false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account observed = account;
        PendingRequest observedJob = job;
        c.adjust(observed, observedJob);
        Account before = observed;
        observed.observeCrewSetup(observedJob, c.page());
        if (c.installs) {
            EXPECT_EQ(observed.installedCrewRevision, job.crewSetupRevision);
            EXPECT_EQ(observed.installedCrewURL, Text(kDotURL));
            before.installedCrewRevision = observed.installedCrewRevision;
            before.installedCrewURL = observed.installedCrewURL;
        }
        EXPECT_EQ(observed, before);
    }
}

TEST_F(ObserveCrewSetup, InstalledSetupStopsTravellingWithLaterRequests)
{
    account.observeCrewSetup(
        job, { pageMessage("t", "user", job.payload), pageMessage("a", "assistant", "[qv:0123456789ab]\nDone.") });
    PendingRequest next = PendingRequest::make("NEXT", botNamed(account, "rex"), "Review");
    next.replyToken = "abcdef012345";
    account.configurePayload(next, botNamed(account, "rex"), "Review");
    EXPECT_FALSE(next.crewSetupBody);

    // Renaming a teammate makes the next request carry the new crew.
    botNamed(account, "rex").name = "Rex II";
    account.configurePayload(next, botNamed(account, "rex"), "Review");
    EXPECT_TRUE(next.crewSetupBody);
}

}  // namespace
}  // namespace quorvane
