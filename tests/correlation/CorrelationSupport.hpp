#pragma once

// Small builders for page messages, so each table row reads like the page it describes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvane/ReplyCorrelation.hpp"

namespace quorvane::testing {

// The tag of the token most tests use.
inline constexpr std::string_view kToken = "0123456789ab";
inline const std::string kTag = "[qv:0123456789ab]";

inline MessageAttachment attachment(std::string_view id, std::string_view title = "photo.png")
{
    return MessageAttachment { Text(id), Text("image"), Text(title), std::nullopt };
}

inline DotMessage message(std::string_view id, std::string_view role, std::string_view text,
    std::optional<std::string_view> html = std::nullopt,
    std::optional<std::vector<MessageAttachment>> attachments = std::nullopt)
{
    DotMessage made { Text(id), Text(role), Text(text), std::nullopt, std::move(attachments) };
    if (html)
        made.html = Text(*html);
    return made;
}

inline DotMessage assistant(std::string_view id, std::string_view text,
    std::optional<std::string_view> html = std::nullopt,
    std::optional<std::vector<MessageAttachment>> attachments = std::nullopt)
{
    return message(id, "assistant", text, html, std::move(attachments));
}

inline DotMessage user(std::string_view id, std::string_view text) { return message(id, "user", text); }

inline std::vector<std::string> idsOf(const std::vector<DotMessage>& messages)
{
    std::vector<std::string> ids;
    for (const DotMessage& m : messages)
        ids.push_back(m.id.str());
    return ids;
}

inline PendingRequest job(std::string_view id, std::optional<std::string_view> token, std::vector<Text> baseline = {},
    std::optional<std::string_view> userMessageID = std::nullopt)
{
    PendingRequest made;
    made.id = Text(id);
    made.botID = Text("dot");
    made.payload = Text("[Quorvane request " + std::string(id) + "]\nHello");
    made.baseline = std::move(baseline);
    if (token)
        made.replyToken = Text(*token);
    if (userMessageID)
        made.userMessageID = Text(*userMessageID);
    return made;
}

}  // namespace quorvane::testing
