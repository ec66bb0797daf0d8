#include "HomeConversation.hpp"

#include "quorvane/DotService.hpp"
#include "quorvane/ReplyCorrelation.hpp"

namespace quorvane {

bool isHomeConversationAddress(std::string_view url)
{
    const std::string home = DotService::current().homeURL() + "/home";
    return validDotURL(url) && (url == home || url == home + "/");
}

bool adoptsConversation(const Account& account, const DotSnapshot& snapshot)
{
    if (!isHomeConversationAddress(account.dotURL) || isHomeConversationAddress(snapshot.url)
        || !validDotURL(snapshot.url) || account.jobs.empty())
        return false;
    return matchingTurn(account.jobs.front(), snapshot.messages).has_value();
}

}  // namespace quorvane
