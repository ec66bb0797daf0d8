#include "quorvane/Account.hpp"

#include <algorithm>

#include "quorvane/TextRules.hpp"

namespace quorvane {

Account Account::fresh()
{
    Account account;
    account.id = newUUID();
    account.browserProfile = newUUID();
    account.label = "Your Dot";
    account.bots = { Bot::starters().front() };
    account.selectedBot = kPrimaryBotID;
    return account;
}

void Account::removeUnusedStarterBots()
{
    auto primary = std::find_if(bots.begin(), bots.end(), [](const Bot& bot) { return bot.id == kPrimaryBotID; });
    if (primary != bots.end())
        primary->personality = Text();

    auto used = [&](const Bot& bot) {
        auto byBot = [&](const auto& record) { return record.botID == bot.id; };
        if (std::any_of(messages.begin(), messages.end(), byBot) || std::any_of(jobs.begin(), jobs.end(), byBot))
            return true;
        auto draft = drafts.find(std::string(bot.id));
        return draft != drafts.end() && !draft->second.empty();
    };
    const auto& starters = Bot::starters();
    std::erase_if(bots, [&](const Bot& bot) {
        return bot.id != kPrimaryBotID && std::find(starters.begin(), starters.end(), bot) != starters.end()
            && !used(bot);
    });

    bool selectionRemains
        = std::any_of(bots.begin(), bots.end(), [&](const Bot& bot) { return bot.id == selectedBot; });
    if (!selectionRemains)
        selectedBot = kPrimaryBotID;
}

void Account::setStatus(std::string_view id, MessageStatus status)
{
    auto message = std::find_if(messages.begin(), messages.end(), [&](const ChatMessage& m) { return m.id == id; });
    if (message != messages.end())
        messages.mutableAt(static_cast<std::size_t>(message - messages.begin())).status = status;
}

}  // namespace quorvane
