#include <optional>
#include <variant>

#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"
#include "quorvane/AppFailure.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

MessageAttachment attachment(std::string_view id, std::string_view title, std::optional<Text> url)
{
    return MessageAttachment { id, "file", title, std::move(url) };
}

ReplyPart part(std::string_view id, std::string_view text,
    std::optional<std::vector<MessageAttachment>> attachments = std::nullopt)
{
    ReplyPart part;
    part.id = id;
    part.text = text;
    part.attachments = std::move(attachments);
    return part;
}

// Nova's conversation: the user's question, replies with parts and attachments, a copy of Rex's
// result, a handoff, and routing notices that cannot be quoted.
Account novaConversation()
{
    Account account = accountWith({ makeBot("nova", "Nova"), makeBot("rex", "Rex") });
    const std::string accent = "e\u0301";
    auto withParts = [](ChatMessage message, std::vector<ReplyPart> parts) {
        message.parts = std::move(parts);
        return message;
    };
    auto from = [](ChatMessage message, std::string_view source) {
        message.sourceBotID = source;
        return message;
    };
    auto routing = [](ChatMessage message) {
        message.isRouting = true;
        return message;
    };
    const auto deck = attachment("d", "Deck", Text("https://files.example/deck"));
    const auto notes = attachment("n", "Notes", std::nullopt);
    account.messages = {
        makeMessage("U1", "nova", MessageRole::user, "What's the plan?"),
        withParts(makeMessage("A1", "nova", MessageRole::assistant, "Plan: launch"),
            { part("P1", "Plan: launch"), part("P2", "", std::vector { deck, notes }), part("P3", "") }),
        withParts(makeMessage("A4", "nova", MessageRole::assistant, ""),
            { part("P1", "", std::vector { deck }), part("P2", ""), part("P3", "", std::vector { notes }) }),
        from(makeMessage("A2", "nova", MessageRole::assistant, "Risks: none"), "rex"),
        from(makeMessage("A3", "nova", MessageRole::assistant, "orphan"), "ghost"),
        from(makeMessage("H1", "nova", MessageRole::handoff, "Please review"), "rex"),
        routing(makeMessage("E1", "nova", MessageRole::event, "Nova handed this to Rex")),
        routing(makeMessage("N1", "nova", MessageRole::assistant, "Routing note")),
        makeMessage("E2", "nova", MessageRole::event, "Something happened"),
        makeMessage("L1", "nova", MessageRole::assistant, repeated(accent, 4001)),
        makeMessage("R1", "rex", MessageRole::assistant, "Rex's own reply"),
    };
    return account;
}

TEST(QuotedMessage, QuotesTheTextAttachmentsAndAuthor)
{
    const std::string accent = "e\u0301";
    struct Case {
        const char* id;
        std::optional<Text> partID;
        std::variant<QuotedReply, std::string> expected;  // the quote, or the refusal sentence
    };
    const std::string unavailable = "That message is no longer available to reply to.";
    const Case cases[] = {
        { "U1", std::nullopt, QuotedReply { "U1", std::nullopt, "You", "What's the plan?" } },
        { "A1", std::nullopt, QuotedReply { "A1", std::nullopt, "Nova", "Plan: launch" } },
        { "A1", Text("P1"), QuotedReply { "A1", Text("P1"), "Nova", "Plan: launch" } },
        { "A1", Text("P2"), QuotedReply { "A1", Text("P2"), "Nova", "Deck \u2014 https://files.example/deck\nNotes" } },
        { "A1", Text("P3"), QuotedReply { "A1", Text("P3"), "Nova", "" } },
        { "A1", Text("P9"), std::string("That reply is no longer available.") },
        { "U1", Text("P1"), std::string("That reply is no longer available.") },
        { "A4", std::nullopt,
            QuotedReply { "A4", std::nullopt, "Nova", "Deck \u2014 https://files.example/deck\nNotes" } },
        { "A2", std::nullopt, QuotedReply { "A2", std::nullopt, "Rex", "Risks: none" } },
        { "A3", std::nullopt, QuotedReply { "A3", std::nullopt, "Dot", "orphan" } },
        { "H1", std::nullopt, QuotedReply { "H1", std::nullopt, "Rex", "Please review" } },
        { "L1", std::nullopt, QuotedReply { "L1", std::nullopt, "Nova", repeated(accent, 4000) } },
        { "E1", std::nullopt, unavailable },
        { "N1", std::nullopt, unavailable },
        { "E2", std::nullopt, unavailable },
        { "R1", std::nullopt, unavailable },  // another bot's message
        { "GONE", std::nullopt, unavailable },
    };
    const Account account = novaConversation();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.id) + (c.partID ? "/" + c.partID->str() : ""));
        if (const auto* quote = std::get_if<QuotedReply>(&c.expected)) {
            EXPECT_EQ(account.quotedMessage(c.id, c.partID, "nova"), *quote);
        } else {
            try {
                account.quotedMessage(c.id, c.partID, "nova");
                ADD_FAILURE() << "expected a refusal";
            } catch (const AppFailure& failure) {
                EXPECT_EQ(failure.message, std::get<std::string>(c.expected));
            }
        }
    }
}

}  // namespace
}  // namespace quorvane
