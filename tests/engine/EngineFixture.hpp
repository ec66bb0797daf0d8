#pragma once

// A small crew and page-building helpers shared by the engine's tests.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "quorvane/AppFailure.hpp"
#include "quorvane/ConversationContext.hpp"
#include "quorvane/Orchestration.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/Vault.hpp"

namespace quorvane::testing {

inline Bot teammate(const char* id, const char* name, const char* personality = "Thorough and kind.")
{
    Bot bot;
    bot.id = id;
    bot.name = name;
    bot.kind = "coder";
    bot.personality = personality;
    return bot;
}

// An account connected to its Dot conversation, with the primary bot and two teammates.
inline Account crewAccount()
{
    Account account = Account::fresh();
    account.dotURL = "https://dot.example/dots/0123ABCD-4567-89EF-0123-456789ABCDEF";
    account.connectedOnce = true;
    account.bots.push_back(teammate("B1", "Ada"));
    account.bots.push_back(teammate("B2", "Max"));
    return account;
}

inline DotMessage pageMessage(const char* id, const char* role, std::string text)
{
    DotMessage message;
    message.id = id;
    message.role = role;
    message.text = text;
    return message;
}

inline const PendingRequest* findJob(const Account& account, std::string_view id)
{
    for (const auto& job : account.jobs)
        if (job.id == id)
            return &job;
    return nullptr;
}

inline const ChatMessage* findMessage(const Account& account, std::string_view id)
{
    for (const auto& message : account.messages.elements())
        if (message.id == id)
            return &message;
    return nullptr;
}

inline const Handoff* findHandoff(const Account& account, std::string_view id)
{
    if (account.handoffs)
        for (const auto& handoff : account.handoffs->elements())
            if (handoff.id == id)
                return &handoff;
    return nullptr;
}

inline std::vector<Text> unread(const Account& account) { return account.unreadBots.value_or(std::vector<Text> {}); }

// Runs a refusing operation and checks both the sentence and that nothing changed.
inline void expectRefusal(Account& account, const std::function<void(Account&)>& operation, const std::string& sentence)
{
    const Account before = account;
    try {
        operation(account);
        ADD_FAILURE() << "no refusal; expected: " << sentence;
    } catch (const AppFailure& failure) {
        EXPECT_EQ(failure.message, sentence);
    }
    EXPECT_TRUE(account == before) << "a refused operation changed the account";
}

inline std::string handoffBlock(
    std::string_view requestID, const std::vector<std::pair<std::string, std::string>>& assignments)
{
    std::string json = "{\"request_id\":\"" + std::string(requestID) + "\",\"handoffs\":[";
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        if (i)
            json += ",";
        json += "{\"to\":\"" + assignments[i].first + "\",\"task\":\"" + assignments[i].second + "\"}";
    }
    return "Let me bring in the team.\n```quorvane-handoff\n" + json + "]}\n```";
}

}  // namespace quorvane::testing
