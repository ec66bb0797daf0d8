#include "quorvane/RequestRecords.hpp"

namespace quorvane {

PendingRequest PendingRequest::make(std::string_view id, const Bot& bot, std::string_view text)
{
    PendingRequest job;
    job.id = id;
    job.botID = bot.id;
    job.phase = JobPhase::queued;
    job.inputText = text;
    job.turnName = bot.name;
    bool primary = bot.id == kPrimaryBotID;
    std::string identity = primary ? std::string() : bot.turnIdentityContext();
    job.turnIdentity = identity;
    std::string payload(kRequestHeaderStart);
    payload += id;
    payload += "]\n";
    if (!primary) {
        payload += identity;
        payload += "\n";
        payload += kUserMessageMarker;
    }
    payload += text;
    job.payload = payload;
    return job;
}

}  // namespace quorvane
