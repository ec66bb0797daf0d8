#pragma once

// Small builders shared by the orchestration tests: a crew, user and handoff requests, and the
// handoff blocks a bot would write.

#include <string>
#include <utility>
#include <vector>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "quorvane/Account.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/Orchestration.hpp"

namespace quorvane::testing {

inline Bot makeBot(std::string_view id, std::string_view name, bool archived = false)
{
    Bot bot;
    bot.id = id;
    bot.name = name;
    bot.kind = id == "dot" ? "dot" : "robot";
    bot.personality = id == "dot" ? "" : std::string("Helpful teammate called ") + std::string(name) + ".";
    bot.archived = archived;
    return bot;
}

// The primary bot, eight teammates and one archived teammate.
inline std::vector<Bot> crew()
{
    return {
        makeBot("dot", "Dot"),
        makeBot("alpha", "Alpha"),
        makeBot("beta", "Beta"),
        makeBot("gamma", "Gamma"),
        makeBot("delta", "Delta"),
        makeBot("epsilon", "Epsilon"),
        makeBot("zeta", "Zeta"),
        makeBot("eta", "Eta"),
        makeBot("theta", "Theta"),
        makeBot("retired", "Retired", true),
    };
}

inline const Bot& botNamed(const Account& account, std::string_view id)
{
    for (const auto& bot : account.bots)
        if (bot.id == id)
            return bot;
    throw std::runtime_error("no bot " + std::string(id));
}

inline ChatMessage message(
    std::string_view id, std::string_view botID, MessageRole role, MessageStatus status, std::string_view text = "text")
{
    ChatMessage m;
    m.id = id;
    m.botID = botID;
    m.role = role;
    m.text = text;
    m.date = 100;
    m.status = status;
    return m;
}

// A user request as the queue makes it: its own root, depth 0.
inline PendingRequest userJob(
    const Account& account, std::string_view id, std::string_view botID, JobPhase phase = JobPhase::waiting)
{
    PendingRequest job = PendingRequest::make(id, botNamed(account, botID), "Please plan the launch.");
    job.rootRequestID = id;
    job.delegationDepth = 0;
    job.phase = phase;
    return job;
}

inline Handoff handoff(std::string_view id, std::string_view root, std::string_view source, std::string_view target,
    HandoffStatus status, std::optional<std::string_view> parent)
{
    Handoff h;
    h.id = id;
    h.rootRequestID = root;
    h.sourceBotID = source;
    h.targetBotID = target;
    h.task = "A task";
    h.status = status;
    if (parent)
        h.parentRequestID = Text(*parent);
    return h;
}

// The directive in its list form, serialized as JSON so that any task text stays intact.
inline std::string listDirective(
    std::string_view requestID, const std::vector<std::pair<std::string, std::string>>& assignments)
{
    boost::json::array list;
    for (const auto& [to, task] : assignments)
        list.push_back(boost::json::object { { "to", to }, { "task", task } });
    return boost::json::serialize(boost::json::object { { "request_id", requestID }, { "handoffs", list } });
}

inline std::string fenced(std::string_view json) { return "```quorvane-handoff\n" + std::string(json) + "\n```"; }

// A whole account compared field by field; on a difference both are shown as JSON.
inline void expectSameAccount(const Account& expected, const Account& actual)
{
    if (!(expected == actual))
        ADD_FAILURE() << "the account changed\nbefore: " << encodeJSON(expected) << "\nafter:  " << encodeJSON(actual);
}

inline std::string repeated(std::string_view piece, std::size_t count)
{
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        out.append(piece);
    return out;
}

}  // namespace quorvane::testing
