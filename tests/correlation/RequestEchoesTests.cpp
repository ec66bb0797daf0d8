// Removing our own prompts that were filed as replies.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

using Files = std::vector<MessageAttachment>;
using Parts = std::vector<ReplyPart>;

const std::string kEnvelope = "[Quorvane request R1]\nHello";
const std::string kBanner = "[Active Quorvane bot \u2014 this turn only]\nYou are Muse.";

ChatMessage chat(std::string_view id, MessageRole role, std::string_view text,
    std::optional<std::string_view> html = std::nullopt, std::optional<Parts> parts = std::nullopt)
{
    ChatMessage made;
    made.id = Text(id);
    made.botID = Text("dot");
    made.role = role;
    made.text = Text(text);
    made.date = 100;
    made.status = MessageStatus::sent;
    if (html)
        made.html = Text(*html);
    made.parts = std::move(parts);
    return made;
}

ReplyPart part(std::string_view id, std::string_view text, std::optional<std::string_view> html = std::nullopt,
    std::optional<Files> attachments = std::nullopt)
{
    ReplyPart made { Text(id), Text(text), std::nullopt, 50, std::move(attachments) };
    if (html)
        made.html = Text(*html);
    return made;
}

ReplyWatch watch(std::vector<Text> assistantIDs)
{
    return ReplyWatch { job("R1", kToken), std::move(assistantIDs), false };
}

UnassignedReply unassigned(DotMessage message) { return UnassignedReply { message.id, message, 10 }; }

std::vector<std::string> idsOf(const std::vector<ChatMessage>& messages)
{
    std::vector<std::string> ids;
    for (const ChatMessage& m : messages)
        ids.push_back(m.id.str());
    return ids;
}

class RequestEchoes : public ::testing::Test {
protected:
    void SetUp() override
    {
        account.messages = {
            chat("user", MessageRole::user, kEnvelope),
            chat("echo", MessageRole::assistant, kEnvelope),
            chat("taggedEcho", MessageRole::assistant, kTag + "\n[Quorvane crew setup]\nCrew:", std::nullopt, Parts {}),
            chat("real", MessageRole::assistant, "A real answer"),
            chat("mixed", MessageRole::assistant, "stale", "<p>stale</p>",
                Parts {
                    part("e1", kBanner),
                    part("k1", "Keep A", "<p>A</p>"),
                    part("e2", "", std::nullopt, Files { attachment("f1", kEnvelope) }),
                    part("k2", "", std::nullopt, Files { attachment("f2") }),
                    part("k3", "Keep B", "<p>B</p>"),
                    part("k4", "Caption", std::nullopt, Files { attachment("f3", kEnvelope) }),
                }),
            chat("allEcho", MessageRole::assistant, "stale", std::nullopt, Parts { part("e3", kEnvelope) }),
            chat("clean", MessageRole::assistant, "not rebuilt", "<p>not rebuilt</p>",
                Parts { part("k5", "x", "<p>x</p>") }),
            chat("noHTMLLeft", MessageRole::assistant, "stale", "<p>stale</p>",
                Parts { part("e4", kEnvelope, "<p>e</p>"), part("k6", "Only text") }),
            chat("routing", MessageRole::event, kEnvelope),
        };
        account.replyWatches = std::vector {
            watch({ Text("e1"), Text("echo"), Text("k1"), Text("e3"), Text("zz") }),
            watch({ Text("e2") }),
        };
        account.unassignedReplies = std::vector {
            unassigned(assistant("u-text", "Hello")),
            unassigned(assistant("u-echo", kEnvelope)),
            unassigned(assistant("u-empty", "")),
            unassigned(assistant("u-file", "", std::nullopt, Files { attachment("f4") })),
            unassigned(assistant("u-echoFile", "", std::nullopt, Files { attachment("f5", kBanner) })),
        };
    }

    Account account;
};

TEST_F(RequestEchoes, DeletesWholeEchoesAndDropsEchoParts)
{
    Account before = account;
    account.removeRequestEchoes();

    EXPECT_EQ(idsOf(account.messages),
        (std::vector<std::string> { "user", "real", "mixed", "clean", "noHTMLLeft", "routing" }));
    EXPECT_EQ(account.messages[0], before.messages[0]);
    EXPECT_EQ(account.messages[5], before.messages[8]);

    const ChatMessage& mixed = account.messages[2];
    ChatMessage expected = before.messages[4];
    expected.parts = Parts { (*expected.parts)[1], (*expected.parts)[3], (*expected.parts)[4], (*expected.parts)[5] };
    expected.text = Text("Keep A\n\nKeep B\n\nCaption");
    expected.html = Text("<p>A</p>\n<p>B</p>");
    EXPECT_EQ(mixed, expected);

    EXPECT_EQ(account.messages[3], before.messages[6]);

    const ChatMessage& noHTMLLeft = account.messages[4];
    EXPECT_EQ(noHTMLLeft.text, "Only text");
    EXPECT_EQ(noHTMLLeft.html, std::nullopt);
    EXPECT_EQ(noHTMLLeft.parts, (std::optional<Parts> { Parts { part("k6", "Only text") } }));
}

TEST_F(RequestEchoes, ForgetsDroppedPartsInWatchesAndUnassignedEchoes)
{
    account.removeRequestEchoes();

    ASSERT_TRUE(account.replyWatches);
    ASSERT_EQ(account.replyWatches->size(), 2u);
    // A deleted message's own id stays: only dropped parts are forgotten.
    EXPECT_EQ((*account.replyWatches)[0].assistantIDs, (std::vector<Text> { Text("echo"), Text("k1"), Text("zz") }));
    EXPECT_EQ((*account.replyWatches)[1].assistantIDs, std::vector<Text> {});

    ASSERT_TRUE(account.unassignedReplies);
    std::vector<std::string> kept;
    for (const UnassignedReply& reply : *account.unassignedReplies)
        kept.push_back(reply.id.str());
    EXPECT_EQ(kept, (std::vector<std::string> { "u-text", "u-file" }));
}

TEST_F(RequestEchoes, AnAccountWithoutEchoesIsUnchanged)
{
    account.messages = { chat("user", MessageRole::user, kEnvelope),
        chat("real", MessageRole::assistant, "Hi", std::nullopt, Parts { part("p", "Hi") }) };
    account.unassignedReplies = std::vector { unassigned(assistant("u-text", "Hello")) };
    account.replyWatches = std::vector { watch({ Text("real") }) };
    Account before = account;
    account.removeRequestEchoes();
    EXPECT_EQ(account, before);
    // Copies of an account share their long lists until one of them changes.
    EXPECT_TRUE(account.messages.sharesElementsWith(before.messages));
    EXPECT_TRUE(account.replyWatches->sharesElementsWith(*before.replyWatches));

    Account bare;
    bare.messages = { chat("echo", MessageRole::assistant, kEnvelope) };
    bare.removeRequestEchoes();
    EXPECT_TRUE(bare.messages.empty());
    EXPECT_EQ(bare.replyWatches, std::nullopt);
    EXPECT_EQ(bare.unassignedReplies, std::nullopt);
}

}  // namespace
}  // namespace quorvane
