// A character card in the real program: the page sends a card PNG as the sidebar's "Import
// Character Card…" does, the teammate it describes joins the crew with the card's picture, and a
// message to it is answered in that persona's name through the Dot page. A file that is not a card
// is refused with its sentence and changes nothing.

#include <boost/json/serialize.hpp>

#include "CardPNGs.hpp"
#include "Conversation.hpp"
#include "EndToEndTest.hpp"
#include "quorvane/CharacterCard.hpp"

namespace quorvane::testing {

namespace {

using CardTest = EndToEndTest;

TEST_F(CardTest, AnImportedCardBecomesATeammateThatAnswersInItsOwnName)
{
    launch();
    Conversation chat(*app);
    chat.connect();
    const std::string accountID = stringAt(state().at("account"), "id");
    const std::size_t botsBefore = accountList(state(), "bots").size();

    const std::string notACard = cards::base64(cards::png());
    EXPECT_EQ(chat.command("importCard", { { "accountID", accountID }, { "png", notACard } }),
        boost::json::value(cardSentences::notCard));
    EXPECT_EQ(accountList(state(), "bots").size(), botsBefore);

    const std::string card = cards::base64(cards::png({ cards::ccv3(
        cards::v3(R"({"name":"Captain Reed","personality":"A retired sea captain who speaks in nautical terms.",)"
                  R"("description":"Keeps a lighthouse.","scenario":""})")) }));
    EXPECT_EQ(chat.command("importCard", { { "accountID", accountID }, { "png", card } }), boost::json::value(nullptr));
    std::string reed;
    ASSERT_TRUE(waitFor("the card's teammate in the crew", [&](const boost::json::value&) {
        reed = chat.botNamed("Captain Reed");
        return !reed.empty();
    }));
    const boost::json::value withReed = state();
    boost::json::value added;
    for (const auto& bot : accountList(withReed, "bots")) {
        if (stringAt(bot, "id") == reed)
            added = bot;
    }
    EXPECT_EQ(
        stringAt(added, "personality"), "A retired sea captain who speaks in nautical terms.\n\nKeeps a lighthouse.");
    EXPECT_EQ(stringAt(added, "image").rfind("data:image/png;base64,", 0), 0u) << boost::json::serialize(added);

    chat.select(reed);
    const std::string asked = chat.send("What does the sea look like tonight?");
    const auto reply = chat.awaitFiledReply(asked);
    EXPECT_EQ(stringAt(reply, "botID"), reed);
    EXPECT_NE(stringAt(reply, "text").find("Captain Reed"), std::string::npos) << boost::json::serialize(reply);
}

}  // namespace

}  // namespace quorvane::testing
