// The application side of the state transport: a complete publication in parts puts back
// together into the complete encoding; a prepared publication goes out in place of encoding
// again, followed by what changed since; every change names the publication it builds on.

#include <algorithm>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "quorvane/controller/PageJSON.hpp"
#include "quorvane/shell/StateTransport.hpp"

namespace quorvane {
namespace {

ClientState stateWithMessages(int count, const std::string& word)
{
    ClientState state;
    state.account = Account::fresh();
    state.theme = Theme::light;
    for (int i = 0; i < count; ++i) {
        ChatMessage message;
        message.id = "m" + std::to_string(i);
        message.botID = "dot";
        message.role = MessageRole::assistant;
        message.text = word + " " + std::to_string(i) + " — “quoted” " + std::string(std::size_t(50 + i % 7 * 40), 'x');
        message.date = 100.0 + i;
        message.status = MessageStatus::sent;
        state.account.messages.push_back(message);
    }
    return state;
}

struct Sent {
    std::vector<boost::json::object> parts;
    std::vector<bool> last;
};

StateTransport::Deliver recorder(Sent& sent)
{
    return [&sent](std::string text, bool last) {
        for (char c : text)
            ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "the page's text is ASCII only";
        sent.parts.push_back(boost::json::parse(text).as_object());
        sent.last.push_back(last);
    };
}

// The complete state the first `count` parts of `sent` put together, as the page does.
boost::json::value assembled(const Sent& sent, std::size_t from, std::size_t count)
{
    boost::json::object head = sent.parts.at(from);
    EXPECT_EQ(head.at("base").as_int64(), 0);
    boost::json::value state = head.at("state");
    boost::json::array messages;
    for (std::size_t i = from + 1; i < from + count; ++i) {
        const auto& part = sent.parts.at(i);
        EXPECT_EQ(part.at("seq"), head.at("seq"));
        EXPECT_EQ(part.at("part").as_int64(), std::int64_t(i - from));
        EXPECT_EQ(part.at("more").as_bool(), i + 1 < from + count);
        for (const auto& message : part.at("messages").as_array())
            messages.push_back(message);
    }
    state.as_object()["account"].as_object()["messages"] = messages;
    return state;
}

TEST(StateTransport, ACompletePublicationInPartsPutsBackTogetherIntoTheCompleteEncoding)
{
    for (std::size_t partBytes : { std::size_t(1), std::size_t(2000), std::size_t(4) << 20 }) {
        SCOPED_TRACE("parts of " + std::to_string(partBytes) + " bytes");
        StateTransport transport(partBytes);
        ClientState state = stateWithMessages(60, "hello");
        Sent sent;
        auto publication = transport.publish(state, recorder(sent));
        ASSERT_EQ(sent.parts.size(), publication.parts);
        EXPECT_TRUE(publication.complete);
        EXPECT_EQ(assembled(sent, 0, sent.parts.size()), boost::json::parse(encodePageJSON(state)));
        EXPECT_EQ(std::count(sent.last.begin(), sent.last.end(), true), 1);
        EXPECT_TRUE(sent.last.back());
        if (partBytes == 1) {
            EXPECT_EQ(sent.parts.size(), 61u) << "one message per part, after the head";
        }
    }
}

TEST(StateTransport, APreparedPublicationGoesOutFollowedByWhatChangedSince)
{
    const ClientState prepared = stateWithMessages(30, "prepared");
    ClientState later = prepared;
    later.theme = Theme::dark;
    later.account.messages.push_back(stateWithMessages(31, "added").account.messages.back());

    struct Case {
        const char* name;
        ClientState published;
        bool resetFirst;
        bool changeFollows;
    };
    for (const Case& test : { Case { "unchanged", prepared, false, false }, Case { "changed", later, false, true },
             Case { "after a reset", later, true, true } }) {
        SCOPED_TRACE(test.name);
        StateTransport transport(1500);
        transport.prepare(stateWithMessages(5, "replaced"));
        transport.prepare(prepared);
        if (test.resetFirst)
            transport.reset();
        Sent sent;
        auto publication = transport.publish(test.published, recorder(sent));
        EXPECT_TRUE(publication.complete);
        EXPECT_FALSE(transport.hasPrepared());
        std::size_t completeParts = sent.parts.size() - (test.changeFollows ? 1 : 0);
        EXPECT_EQ(assembled(sent, 0, completeParts), boost::json::parse(encodePageJSON(prepared)));
        const auto preparedSequence = sent.parts.front().at("seq").as_int64();
        if (test.changeFollows) {
            const auto& change = sent.parts.back();
            EXPECT_EQ(change.at("base").as_int64(), preparedSequence);
            EXPECT_EQ(change.at("seq").as_int64(), std::int64_t(publication.sequence));
            EXPECT_TRUE(change.contains("account"));
        } else {
            EXPECT_EQ(std::int64_t(publication.sequence), preparedSequence);
        }
        EXPECT_EQ(std::count(sent.last.begin(), sent.last.end(), true), 1);
        EXPECT_TRUE(sent.last.back());

        // What comes next builds on the publication the page now holds.
        Sent next;
        ClientState after = test.published;
        after.issue = "Dot is still loading.";
        auto change = transport.publish(after, recorder(next));
        ASSERT_EQ(next.parts.size(), 1u);
        EXPECT_FALSE(change.complete);
        EXPECT_EQ(next.parts[0].at("base").as_int64(), std::int64_t(publication.sequence));
    }
}

}  // namespace
}  // namespace quorvane
