#pragma once

// What the engine's seams share: the limits that more than one of them enforces, the ids that
// are made from a request's id, finding a bot, a message or another record by its id, reading
// the request header of our own turns, and joining the parts of a reply into its text and HTML.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorvane/Account.hpp"

namespace quorvane {

// ---- Limits -------------------------------------------------------------------------------------

// Requests the queue holds at most: the user's messages are refused beyond it, and so is a
// handoff that would bring it over.
inline constexpr std::size_t kQueueLimit = 20;

// The deepest request that may still hand off: the user's request is at depth 0 and each
// handoff adds one, so chains end three teammates down. Prompts of deeper requests say so, and a
// handoff block in their reply is refused.
inline constexpr std::int64_t kMaxDelegationDepth = 2;

// ---- Ids made from a request's id ---------------------------------------------------------------

// The request at the top of the handoff tree that `job` belongs to.
inline Text rootOf(const PendingRequest& job) { return job.rootRequestID.value_or(job.id); }

inline constexpr std::string_view kReplySuffix = "-reply";

// The id a request's reply is filed under.
inline std::string replyID(std::string_view requestID)
{
    std::string id(requestID);
    id += kReplySuffix;
    return id;
}

// The request whose reply is filed under `id`, when it is such an id.
inline std::optional<std::string_view> requestOfReply(std::string_view id)
{
    if (!id.ends_with(kReplySuffix))
        return std::nullopt;
    return id.substr(0, id.size() - kReplySuffix.size());
}

// The id of the copy of a reply (filed under `messageID`) that goes to a bot that delegated it.
inline std::string handoffResultID(std::string_view messageID, std::string_view botID)
{
    std::string id(messageID);
    id += "-handoff-result-";
    id += botID;
    return id;
}

// The id of a page reply that the user assigned to a bot, once it is filed.
inline std::string remoteReplyID(std::string_view pageID)
{
    std::string id("remote-");
    id += pageID;
    return id;
}

// ---- Look-ups -----------------------------------------------------------------------------------

// The first record with this id in a list (bots, jobs, messages, handoffs, offered replies), or
// null. A CowVector hands out only const records, so its look-ups never copy its elements.
template <class List>
auto findByID(List& list, std::string_view id) -> decltype(&*list.begin())
{
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& record) { return record.id == id; });
    return found == list.end() ? nullptr : &*found;
}

// The position of that record, for changing it in place (CowVector::mutableAt).
template <class List>
std::optional<std::size_t> positionOfID(const List& list, std::string_view id)
{
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& record) { return record.id == id; });
    if (found == list.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - list.begin());
}

inline const Bot* findBot(const Account& account, std::string_view id) { return findByID(account.bots, id); }
inline Bot* findBot(Account& account, std::string_view id) { return findByID(account.bots, id); }

inline const ChatMessage* findMessage(const Account& account, std::string_view id)
{
    return findByID(account.messages, id);
}

// ---- The request header -------------------------------------------------------------------------

// "[Quorvane request <id>]", as every prompt opens.
inline std::string requestHeader(std::string_view requestID)
{
    std::string header(kRequestHeaderStart);
    header += requestID;
    header += "]";
    return header;
}

inline bool startsWithRequestHeader(std::string_view text) { return text.starts_with(kRequestHeaderStart); }

// The request id that a text's opening request header names; none when it opens otherwise.
inline std::optional<std::string_view> requestIDInHeader(std::string_view text)
{
    if (!startsWithRequestHeader(text))
        return std::nullopt;
    auto close = text.find(']', kRequestHeaderStart.size());
    if (close == std::string_view::npos)
        return std::nullopt;
    return text.substr(kRequestHeaderStart.size(), close - kRequestHeaderStart.size());
}

// ---- Joining a reply's parts --------------------------------------------------------------------
//
// A reply read in several page messages is one message locally: its text is the parts' texts
// that are not empty, joined by a blank line, and its HTML the HTML of the parts that have some,
// joined by a line feed. `Parts` is any list of records with `text` and optional `html` (page
// messages or reply parts).

template <class Parts>
std::string joinedTexts(const Parts& parts)
{
    std::string text;
    bool first = true;
    for (const auto& part : parts) {
        if (part.text.empty())
            continue;
        if (!first)
            text += "\n\n";
        first = false;
        text += part.text.view();
    }
    return text;
}

// None when no part has HTML.
template <class Parts>
std::optional<std::string> joinedHTML(const Parts& parts)
{
    std::optional<std::string> html;
    for (const auto& part : parts) {
        if (!part.html)
            continue;
        if (html)
            *html += "\n";
        else
            html.emplace();
        *html += part.html->view();
    }
    return html;
}

// As a reply message stores it: HTML that joins to nothing is left out.
template <class Parts>
std::optional<Text> replyHTML(const Parts& parts)
{
    std::optional<std::string> html = joinedHTML(parts);
    if (!html || html->empty())
        return std::nullopt;
    return Text(*html);
}

}  // namespace quorvane
