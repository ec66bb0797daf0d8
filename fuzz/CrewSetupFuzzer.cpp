// Crew setup observation: whether the page shows that the conversation took in the crew setup
// that a request carried, read off the page's messages.
//
// One input is the page: messages apart at 0x1E, each a role letter ('u' user, 'a' assistant,
// anything else a role that matches no rule) and its text, in which "$PAYLOAD" stands for the
// request as it was typed and "$MARKER" for its crew revision marker, so the fuzzer can start
// from the pages a real conversation shows.
//
// Properties: the observation records exactly the request's revision and address or nothing,
// and changes nothing else in the account.

#include "FuzzSupport.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/ConversationContext.hpp"

using namespace quorvane;

namespace {

Bot teammate(std::string_view id, std::string_view name, std::string_view personality = "")
{
    Bot bot;
    bot.id = id;
    bot.name = name;
    bot.kind = "custom";
    bot.personality = personality;
    return bot;
}

// Nova's request carries the crew setup of a conversation that has not seen it yet.
struct Scene {
    Scene()
    {
        account.id = "ACCOUNT";
        account.label = "Your Dot";
        account.dotURL = "https://dot.example/dots/6F1C";
        account.bots = { Bot::starters().front(),
            teammate("nova", "Nova", "Plans launches. Says \"hi\" and Dot's fine."), teammate("rex", "Rex") };
        account.selectedBot = "dot";
        job = PendingRequest::make("REQ", account.bots[1], "Hello");
        job.replyToken = "0123456789ab";
        account.configurePayload(job, account.bots[1], "Hello");
        job.phase = JobPhase::waiting;
        job.baseline = { "old" };
        if (!job.crewSetupRevision || !job.crewSetupBody)
            fuzz::propertyBroken("the scene's request carries no crew setup");
    }
    Account account;
    PendingRequest job;
};

std::string expanded(std::string_view text, const PendingRequest& job)
{
    const std::string marker = "[Crew revision: " + job.crewSetupRevision->str() + "]";
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        if (text.substr(from).starts_with("$PAYLOAD")) {
            out.append(job.payload.view());
            from += 8;
        } else if (text.substr(from).starts_with("$MARKER")) {
            out.append(marker);
            from += 7;
        } else {
            out.push_back(text[from++]);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Scene kScene;
    std::vector<DotMessage> page;
    for (std::string_view piece : fuzz::pieces(fuzz::asText(data, size))) {
        DotMessage message;
        message.id = page.empty() ? std::string("old") : "m" + std::to_string(page.size());
        char role = piece.empty() ? 'u' : piece.front();
        message.role = role == 'u' ? "user" : role == 'a' ? "assistant" : "other";
        message.text = expanded(piece.empty() ? piece : piece.substr(1), kScene.job);
        page.push_back(std::move(message));
    }

    Account account = kScene.account;
    account.observeCrewSetup(kScene.job, page);
    if (account.installedCrewRevision) {
        if (account.installedCrewRevision != kScene.job.crewSetupRevision
            || account.installedCrewURL != kScene.job.crewSetupURL)
            fuzz::propertyBroken("the observation recorded another revision or address");
        account.installedCrewRevision.reset();
        account.installedCrewURL.reset();
    }
    if (!(account == kScene.account))
        fuzz::propertyBroken("the observation changed more than the installed revision");
    return 0;
}
