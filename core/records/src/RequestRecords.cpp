#include "quorvane/RequestRecords.hpp"

#include <array>

namespace quorvane {

namespace {
constexpr std::array<std::string_view, 8> kPhaseNames = {
    "queued",
    "preparing",
    "composing",
    "submitting",
    "waiting",
    "delayed",
    "uncertain",
    "failed",
};
}  // namespace

std::string_view toString(JobPhase phase) { return kPhaseNames[static_cast<std::size_t>(phase)]; }

std::optional<JobPhase> jobPhaseFromString(std::string_view name)
{
    for (std::size_t i = 0; i < kPhaseNames.size(); ++i)
        if (kPhaseNames[i] == name)
            return static_cast<JobPhase>(i);
    return std::nullopt;
}

void decodeInto(const boost::json::value& value, JobPhase& out)
{
    const auto* name = value.if_string();
    if (!name)
        json_detail::typeMismatch("a string", value);
    auto phase = jobPhaseFromString(std::string_view(name->data(), name->size()));
    if (!phase)
        throw JsonDecodeError("unknown job phase \"" + std::string(name->data(), name->size()) + "\"");
    out = *phase;
}

void appendJSON(std::string& out, JobPhase phase) { json_detail::appendEscaped(out, toString(phase)); }

void tag_invoke(boost::json::value_from_tag, boost::json::value& value, JobPhase phase)
{
    value = boost::json::string(toString(phase));
}

JobPhase tag_invoke(boost::json::value_to_tag<JobPhase>, const boost::json::value& value)
{
    JobPhase phase {};
    decodeInto(value, phase);
    return phase;
}

PendingRequest PendingRequest::make(std::string_view id, const Bot& bot, std::string_view text)
{
    PendingRequest job;
    job.id = id;
    job.botID = bot.id;
    job.phase = JobPhase::queued;
    job.inputText = text;
    job.turnName = bot.name;
    bool primary = bot.id == "dot";
    std::string identity = primary ? std::string() : bot.turnIdentityContext();
    job.turnIdentity = identity;
    std::string payload = "[Quorvane request " + std::string(id) + "]\n";
    if (!primary)
        payload += identity + "\n[User message]\n";
    payload += text;
    job.payload = payload;
    return job;
}

}  // namespace quorvane
