#include <functional>
#include <map>
#include <optional>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

using Labels = std::map<std::string, std::string>;  // bot id → generated role

// Nova and Rex were sent for labelling; the job asked for both (and, wrongly, for the primary bot).
struct LabelScene {
    LabelScene()
    {
        account = accountWith({ makeBot("nova", "Nova", "Calm and precise."), makeBot("rex", "Rex", "Bold.") });
        job.id = "ROLE";
        job.botID = "dot";
        job.payload = "label these";
        job.roleTargets = std::vector<RoleTarget> {
            { "nova", botNamed(account, "nova").roleSource() },
            { "rex", botNamed(account, "rex").roleSource() },
            { "dot", botNamed(account, "dot").roleSource() },
        };
        account.jobs = { job };
    }

    Labels labels() const
    {
        Labels found;
        for (const auto& bot : account.bots)
            if (bot.generatedRole)
                found[bot.id.str()] = bot.generatedRole->str();
        return found;
    }

    Account account;
    PendingRequest job;
};

std::string rolesReply(const std::vector<std::pair<std::string, std::string>>& roles)
{
    boost::json::array list;
    for (const auto& [id, role] : roles)
        list.push_back(boost::json::object { { "id", id }, { "role", role } });
    return boost::json::serialize(boost::json::object { { "roles", list } });
}

TEST(RoleSource, FingerprintsThePersonality)
{
    EXPECT_EQ(makeBot("x", "X", "Calm and precise.").roleSource(),
        "923e846573d2ff8cd65dd2b186e7b132e83258fc20f193b2425fb72dcdac8b3e");
    EXPECT_EQ(makeBot("x", "X", "").roleSource(), "8504642ddd6bdcf5193a6a448a7ee0cdb4e562efc0d65f917b25453a6f76572d");
}

TEST(InvalidateGeneratedRole, DropsLabelsOfAnotherPersonality)
{
    struct Case {
        const char* name;
        std::optional<Text> generatedRole;
        std::function<std::optional<Text>(const Bot&)> source;
        bool keepsLabel;
    };
    const Case cases[] = {
        { "label for the current personality", Text("Planner"), [](const Bot& b) { return Text(b.roleSource()); },
            true },
        { "label for an older personality", Text("Planner"),
            [](const Bot&) { return Text(makeBot("x", "X", "Old.").roleSource()); }, false },
        { "label without a source", Text("Planner"), [](const Bot&) { return std::nullopt; }, false },
        { "no label", std::nullopt, [](const Bot&) { return std::nullopt; }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bot bot = makeBot("nova", "Nova", "Calm and precise.");
        bot.generatedRole = c.generatedRole;
        bot.generatedRoleSource = c.source(bot);
        bot.roleAttemptSource = bot.roleSource();
        Bot before = bot;
        bot.invalidateGeneratedRoleIfNeeded();
        EXPECT_FALSE(bot.roleAttemptSource);
        if (c.keepsLabel) {
            EXPECT_EQ(bot.generatedRole, before.generatedRole);
            EXPECT_EQ(bot.generatedRoleSource, before.generatedRoleSource);
        } else {
            EXPECT_FALSE(bot.generatedRole);
            EXPECT_FALSE(bot.generatedRoleSource);
        }
    }
}

TEST(ApplyRoleLabels, AcceptsOnlyShortCompleteLabels)
{
    const std::string accent = "e\u0301";
    struct Case {
        const char* name;
        std::string label;
        std::optional<std::string> applied;
    };
    const Case cases[] = {
        { "plain", "Launch planner", "Launch planner" },
        { "trimmed", "  Launch planner \n", "Launch planner" },
        { "2 characters", "QA", "QA" },
        { "1 character", "Q", std::nullopt },
        { "48 characters", std::string(48, 'a'), std::string(48, 'a') },
        { "49 characters", std::string(49, 'a'), std::nullopt },
        { "48 characters of two code points", repeated(accent, 48), repeated(accent, 48) },
        { "49 characters of two code points", repeated(accent, 49), std::nullopt },
        { "six words", "one two three four five six", "one two three four five six" },
        { "seven words", "one two three four five six seven", std::nullopt },
        { "seven words split by a no-break space", "one two three four five six\u00A0seven", std::nullopt },
        { "runs of spaces count once", "one   two", "one   two" },
        { "ellipsis character", "Planner\u2026", std::nullopt },
        { "three dots", "Planner...", std::nullopt },
        { "two dots", "Plan..ner", "Plan..ner" },
        { "control character", "Plan\aner", std::nullopt },
        { "line break inside", "Launch\nplanner", std::nullopt },
        { "next-line control", "Launch\u0085planner", std::nullopt },
        // Invisible format characters can make a label read as something else in the sidebar.
        { "right-to-left override", "Launch\u202Erennalp", std::nullopt },
        { "zero-width space", "Launch\u200Bplanner", std::nullopt },
        { "left-to-right isolate", "\u2066Launch planner", std::nullopt },
        { "byte order mark", "Launch planner\uFEFF", std::nullopt },
        { "soft hyphen", "Launch plan\u00ADner", std::nullopt },
        // Joiners shape letters and emoji; they cannot reorder or hide text.
        { "zero-width joiner in an emoji", "\U0001F469\u200D\U0001F4BB Coder", "\U0001F469\u200D\U0001F4BB Coder" },
        { "zero-width non-joiner in a word", "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645",
            "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LabelScene scene;
        scene.account.applyRoleLabels(scene.job, rolesReply({ { "nova", c.label } }));
        Labels expected;
        if (c.applied)
            expected["nova"] = *c.applied;
        EXPECT_EQ(scene.labels(), expected);
        if (c.applied) {
            EXPECT_EQ(botNamed(scene.account, "nova").generatedRoleSource,
                Text(botNamed(scene.account, "nova").roleSource()));
        }
    }
}

TEST(ApplyRoleLabels, ReadsTheAnswerOnlyWhenItHasTheRightShape)
{
    const std::string both = R"({"roles":[{"id":"nova","role":"Planner"},{"id":"rex","role":"Critic"}]})";
    const Labels applied { { "nova", "Planner" }, { "rex", "Critic" } };
    auto padded = [&](std::size_t bytes) { return both + std::string(bytes - both.size(), ' '); };
    struct Case {
        const char* name;
        std::string reply;
        Labels labels;
    };
    const Case cases[] = {
        { "plain JSON", both, applied },
        { "fenced with a language word", "```json\n" + both + "\n```", applied },
        { "fenced without one", "```\n" + both + "\n```", applied },
        { "fenced inside white space", " \n```json\n" + both + "\n```\n\n", applied },
        { "extra keys", R"({"note":"x","roles":[{"id":"nova","role":"Planner","confidence":0.9}]})",
            { { "nova", "Planner" } } },
        { "later valid entry wins", R"({"roles":[{"id":"nova","role":"Planner"},{"id":"nova","role":"Strategist"}]})",
            { { "nova", "Strategist" } } },
        { "later invalid entry is skipped", R"({"roles":[{"id":"nova","role":"Planner"},{"id":"nova","role":"P"}]})",
            { { "nova", "Planner" } } },
        { "unknown and primary bots skipped",
            R"({"roles":[{"id":"ghost","role":"Planner"},{"id":"dot","role":"Boss"},{"id":"rex","role":"Critic"}]})",
            { { "rex", "Critic" } } },
        { "exactly 20000 bytes", padded(20000), applied },
        { "20001 bytes", padded(20001), {} },
        { "not JSON", "Nova is a planner.", {} },
        { "text after the JSON", both + " thanks", {} },
        { "fence without a line break", "```" + both + "```", {} },
        { "roles is not a list", R"({"roles":{"id":"nova","role":"Planner"}})", {} },
        { "an entry lacks its role", R"({"roles":[{"id":"nova","role":"Planner"},{"id":"rex"}]})", {} },
        { "an id is a number", R"({"roles":[{"id":"nova","role":"Planner"},{"id":7,"role":"Critic"}]})", {} },
        { "an entry is not an object", R"({"roles":[{"id":"nova","role":"Planner"},"rex"]})", {} },
        { "top level is a list", R"([{"id":"nova","role":"Planner"}])", {} },
        { "no roles key", R"({"labels":[]})", {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LabelScene scene;
        scene.account.applyRoleLabels(scene.job, c.reply);
        EXPECT_EQ(scene.labels(), c.labels);
    }
}

TEST(ApplyRoleLabels, RespectsTheUsersRolesAndTheRequestsTargets)
{
    struct Case {
        const char* name;
        std::function<void(LabelScene&)> arrange;
        bool novaLabelled;
    };
    const Case cases[] = {
        { "labelled", [](LabelScene&) {}, true },
        { "user's own role", [](LabelScene& s) { botNamed(s.account, "nova").role = "Lead"; }, false },
        { "user's role is only white space", [](LabelScene& s) { botNamed(s.account, "nova").role = " \n"; }, true },
        { "personality edited while in flight",
            [](LabelScene& s) { botNamed(s.account, "nova").personality = "Loud."; }, false },
        { "not asked for", [](LabelScene& s) { s.job.roleTargets->erase(s.job.roleTargets->begin()); }, false },
        { "asked for twice", [](LabelScene& s) { s.job.roleTargets->push_back(s.job.roleTargets->front()); }, false },
        { "not a labelling request", [](LabelScene& s) { s.job.roleTargets.reset(); }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LabelScene scene;
        c.arrange(scene);
        Account before = scene.account;
        scene.account.applyRoleLabels(scene.job, rolesReply({ { "nova", "Planner" } }));
        if (c.novaLabelled) {
            EXPECT_EQ(scene.labels(), (Labels { { "nova", "Planner" } }));
        } else {
            EXPECT_EQ(scene.account, before);
        }
    }
}

TEST(FinishRoleGeneration, RecordsTheAttemptAndRemovesTheRequest)
{
    struct Case {
        const char* name;
        std::optional<Text> reply;
        bool editRexInFlight;
        Labels labels;
    };
    const Text reply(rolesReply({ { "nova", "Planner" }, { "rex", "Critic" } }));
    const Case cases[] = {
        { "answered", reply, false, { { "nova", "Planner" }, { "rex", "Critic" } } },
        { "answered after Rex was edited", reply, true, { { "nova", "Planner" } } },
        { "ended without an answer", std::nullopt, false, {} },
        { "answer unreadable", Text("sorry, I can't"), false, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LabelScene scene;
        PendingRequest other = PendingRequest::make("USER", botNamed(scene.account, "nova"), "hi");
        scene.account.jobs = { other, scene.job, scene.job };
        if (c.editRexInFlight)
            botNamed(scene.account, "rex").personality = "Bolder.";

        scene.account.finishRoleGeneration("ROLE", c.reply);

        EXPECT_EQ(scene.labels(), c.labels);
        const Bot& nova = botNamed(scene.account, "nova");
        const Bot& rex = botNamed(scene.account, "rex");
        EXPECT_EQ(nova.roleAttemptSource, Text(nova.roleSource()));
        if (c.editRexInFlight) {
            EXPECT_FALSE(rex.roleAttemptSource);
        } else {
            EXPECT_EQ(rex.roleAttemptSource, Text(rex.roleSource()));
        }
        ASSERT_EQ(scene.account.jobs.size(), 1u);
        EXPECT_EQ(scene.account.jobs.front().id, "USER");
    }
}

TEST(FinishRoleGeneration, IgnoresAnUnknownRequest)
{
    LabelScene scene;
    Account before = scene.account;
    scene.account.finishRoleGeneration("NOPE", Text(rolesReply({ { "nova", "Planner" } })));
    EXPECT_EQ(scene.account, before);
}

}  // namespace
}  // namespace quorvane
