// Role label parsing: the answer to a labelling request, {"roles":[{"id":…,"role":…}]}, perhaps
// fenced, as a bot wrote it.
//
// Properties: only the bots the request asked about (never the primary bot, never one with a
// role of the user's own) get a label; a label given is 2 to 48 characters, kept with its
// source; nothing else in the account changes.

#include "FuzzSupport.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/TextRules.hpp"

using namespace quorvane;

namespace {

Bot teammate(std::string_view id, std::string_view name, std::string_view personality)
{
    Bot bot;
    bot.id = id;
    bot.name = name;
    bot.kind = "custom";
    bot.personality = personality;
    return bot;
}

// Nova and Rex were sent for labelling (and, wrongly, the primary bot); Vega has a role of the
// user's own and Lyra was not asked about.
struct Scene {
    Scene()
    {
        account = Account::fresh();
        account.bots.push_back(teammate("nova", "Nova", "Calm and precise."));
        account.bots.push_back(teammate("rex", "Rex", "Bold."));
        account.bots.push_back(teammate("vega", "Vega", "Careful."));
        account.bots.back().role = Text("Reviewer");
        account.bots.push_back(teammate("lyra", "Lyra", "Quiet."));
        job.id = "ROLE";
        job.botID = "dot";
        job.payload = "label these";
        job.roleTargets = std::vector<RoleTarget> {};
        for (const Bot& bot : account.bots)
            if (bot.id.view() != "lyra")
                job.roleTargets->push_back({ bot.id, bot.roleSource() });
        account.jobs = { job };
    }
    Account account;
    PendingRequest job;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Scene kScene;
    std::string_view reply = fuzz::asText(data, size);

    Account account = kScene.account;
    account.applyRoleLabels(kScene.job, reply);
    for (std::size_t i = 0; i < account.bots.size(); ++i) {
        Bot bot = account.bots[i];
        const Bot& before = kScene.account.bots[i];
        if (!bot.generatedRole) {
            if (!(bot == before))
                fuzz::propertyBroken("a bot without a label changed", bot.id.view());
            continue;
        }
        if (bot.id.view() != "nova" && bot.id.view() != "rex")
            fuzz::propertyBroken("a bot that may not be labelled got a label", bot.id.view());
        std::size_t characters = characterCount(*bot.generatedRole);
        if (characters < 2 || characters > 48)
            fuzz::propertyBroken("a label is not 2 to 48 characters", bot.generatedRole->view());
        if (bot.generatedRoleSource != Text(bot.roleSource()))
            fuzz::propertyBroken("a label was kept without its source", bot.id.view());
        bot.generatedRole.reset();
        bot.generatedRoleSource.reset();
        if (!(bot == before))
            fuzz::propertyBroken("labelling changed more of a bot than its label", bot.id.view());
    }
    account.bots = kScene.account.bots;
    if (!(account == kScene.account))
        fuzz::propertyBroken("labelling changed the account beyond its bots");
    return 0;
}
