// The handoff envelope scanner and the acceptance of what it finds, on a bot's reply text.
//
// Properties: the envelope has a directive exactly when it is valid, and the two shortcuts agree
// with it; acceptHandoff either carries the directive out or returns false with the account
// exactly as it was.

#include "FuzzSupport.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/Orchestration.hpp"

using namespace quorvane;

namespace {

const std::string kRequest = "6F1C2B4A-0000-4000-8000-00000000A001";

Bot teammate(std::string_view id, std::string_view name, bool archived = false)
{
    Bot bot;
    bot.id = id;
    bot.name = name;
    bot.kind = id == "dot" ? "dot" : "robot";
    bot.personality = id == "dot" ? "" : "Helpful teammate called " + std::string(name) + ".";
    bot.archived = archived;
    return bot;
}

ChatMessage userMessage(std::string_view id, std::string_view botID, MessageStatus status)
{
    ChatMessage message;
    message.id = id;
    message.botID = botID;
    message.role = MessageRole::user;
    message.text = "Plan the launch";
    message.date = 100;
    message.status = status;
    return message;
}

PendingRequest userJob(const Account& account, std::string_view id, std::size_t bot, JobPhase phase)
{
    PendingRequest job = PendingRequest::make(id, account.bots[bot], "Please plan the launch.");
    job.rootRequestID = id;
    job.delegationDepth = 0;
    job.phase = phase;
    return job;
}

// Alpha is answering the user's request; another request waits behind it. Eight teammates and
// an archived one, so directives can name the living, the archived, the primary and strangers.
Account scene()
{
    Account account = Account::fresh();
    account.bots
        = { teammate("dot", "Dot"), teammate("alpha", "Alpha"), teammate("beta", "Beta"), teammate("gamma", "Gamma"),
              teammate("delta", "Delta"), teammate("epsilon", "Epsilon"), teammate("zeta", "Zeta"),
              teammate("eta", "Eta"), teammate("theta", "Theta"), teammate("retired", "Retired", true) };
    account.messages.push_back(userMessage(kRequest, "alpha", MessageStatus::waiting));
    account.jobs.push_back(userJob(account, kRequest, 1, JobPhase::waiting));
    account.messages.push_back(userMessage("LATER", "gamma", MessageStatus::queued));
    account.jobs.push_back(userJob(account, "LATER", 3, JobPhase::queued));
    return account;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Account kScene = scene();
    std::string_view reply = fuzz::asText(data, size);

    HandoffEnvelope envelope = handoffEnvelope(reply);
    if ((envelope.kind == HandoffEnvelope::Kind::valid) != envelope.directive.has_value())
        fuzz::propertyBroken("a handoff envelope has a directive without being valid, or the other way round");
    if (isHandoffResponse(reply) != (envelope.kind != HandoffEnvelope::Kind::none))
        fuzz::propertyBroken("isHandoffResponse disagrees with the envelope");
    if (handoffResponseIsIncomplete(reply) != (envelope.kind == HandoffEnvelope::Kind::incomplete))
        fuzz::propertyBroken("handoffResponseIsIncomplete disagrees with the envelope");

    for (bool directMention : { false, true }) {
        Account account = kScene;
        bool accepted = account.acceptHandoff(account.jobs.front(), reply, directMention, 5000);
        if (!accepted && !(account == kScene))
            fuzz::propertyBroken("a refused handoff changed the account", encodeJSON(account));
        if (accepted && envelope.kind != HandoffEnvelope::Kind::valid)
            fuzz::propertyBroken("a handoff was accepted from an envelope that is not valid");
    }
    return 0;
}
