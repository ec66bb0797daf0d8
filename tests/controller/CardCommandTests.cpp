// Character cards through the commands: a bot exported and imported again is the same bot, a
// picture the roster would not take is scaled on import, and what the save dialog answers later
// reaches the page.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "CardPNGs.hpp"
#include "CommandHarness.hpp"
#include "Pictures.hpp"
#include "quorvane/CharacterCard.hpp"

namespace quorvane::testing {
namespace {

namespace cards = testing::cards;

class CardCommandTest : public CommandTest {
protected:
    const Bot& newest() const { return controller->vault().account().bots.back(); }

    CommandResult importBytes(const std::string& png)
    {
        return perform("importCard",
            boost::json::object {
                { "accountID", controller->vault().account().id.view() }, { "png", cards::base64(png) } });
    }
    CommandResult exportBot(const std::string& botID)
    {
        return perform("exportCard",
            boost::json::object { { "accountID", controller->vault().account().id.view() }, { "id", botID } });
    }
};

TEST_F(CardCommandTest, AnExportedBotImportsAsTheSameBot)
{
    const std::vector<std::uint8_t> green = solidPNG(kGreen);
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const BotEdit bots[] = {
        { .name = "Ada", .personality = "Precise and calm.", .kind = "coder" },
        { .name = "Cy " + family,
            .personality = "Line one.\n\nLine \"two\" \\ " + std::string(1700, 'x'),
            .role = "Scout",
            .kind = "explorer",
            .image = Text(dataURL(green)) },
        { .name = "Gus", .personality = "Tiny.", .role = std::string(48, 'r'), .kind = "barista" },
    };
    for (const BotEdit& edit : bots) {
        SCOPED_TRACE(edit.name.str());
        restart(Queue::quiet, [&](Vault& v) { v.account().saveBot(edit); });
        const Bot original = newest();

        ASSERT_EQ(exportBot(original.id.str()).error, std::nullopt);
        ASSERT_EQ(files.offers.size(), 1u);
        const std::string card = files.offers[0].bytes;
        EXPECT_TRUE(card.starts_with(cards::kSignature));

        const std::size_t crew = controller->vault().account().bots.size();
        const CommandResult imported = importBytes(card);
        ASSERT_EQ(imported.error, std::nullopt);
        EXPECT_EQ(imported.saves, 1);
        ASSERT_EQ(controller->vault().account().bots.size(), crew + 1);
        Bot copy = newest();
        EXPECT_NE(copy.id, original.id);
        EXPECT_EQ(controller->vault().account().selectedBot, copy.id);
        copy.id = original.id;
        EXPECT_EQ(copy, original);  // name, personality, role, kind and picture, byte for byte
    }
}

TEST_F(CardCommandTest, TheExportedPictureIsTheAvatarTheBotShows)
{
    restart(Queue::quiet, [](Vault& v) {
        v.account().saveBot(
            { .name = "Red", .personality = "Warm.", .kind = "chef", .image = Text(dataURL(solidPNG(kRed))) });
    });
    ASSERT_EQ(exportBot(newest().id.str()).error, std::nullopt);
    ASSERT_EQ(exportBot(id("ada")).error, std::nullopt);
    ASSERT_EQ(files.offers.size(), 2u);

    const CharacterCard red = readCharacterCard(files.offers[0].bytes);
    EXPECT_EQ(red.picture, std::string(reinterpret_cast<const char*>(solidPNG(kRed).data()), solidPNG(kRed).size()));
    EXPECT_FALSE(red.builtInAvatar);

    // Ada shows her built-in avatar: the card's picture is its disc, and the card says so.
    const CharacterCard ada = readCharacterCard(files.offers[1].bytes);
    EXPECT_TRUE(ada.builtInAvatar);
    EXPECT_EQ(ada.kind, Text("coder"));
    const auto disc = decodeDataURL("data:image/png;base64," + cards::base64(ada.picture));
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->width, 256);
    EXPECT_EQ(disc->height, 256);
    EXPECT_GT(disc->centre.blue, disc->centre.red);  // the coder's hue is a blue
}

TEST_F(CardCommandTest, APictureTheRosterWouldRefuseIsScaledToTheThumbnail)
{
    start();
    // 600 × 300 pixels: wider than an avatar may be.
    GdkPixbuf* wide = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 600, 300);
    gdk_pixbuf_fill(wide, 0x1428DCFF);  // kBlue
    gchar* buffer = nullptr;
    gsize size = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(wide, &buffer, &size, "png", nullptr, nullptr));
    std::string picture(buffer, size);
    g_free(buffer);
    g_object_unref(wide);

    // The card's chunk goes right after IHDR (8 bytes of signature, 25 of IHDR).
    picture.insert(33, cards::ccv3(cards::v3(R"({"name":"Wide","personality":"Broad."})")));
    ASSERT_EQ(importBytes(picture).error, std::nullopt);
    ASSERT_TRUE(newest().image);
    const auto avatar = decodeDataURL(newest().image->str());
    ASSERT_TRUE(avatar);
    EXPECT_EQ(avatar->width, 256);
    EXPECT_EQ(avatar->height, 256);
    EXPECT_EQ(avatar->centre, kBlue);
}

// The save dialog answers later; a card export shares the failure path of every offered file
// (its rules are tested with the export command).
TEST_F(CardCommandTest, AFailedCardSaveReachesThePageLater)
{
    start();
    ASSERT_EQ(exportBot(id("ada")).error, std::nullopt);
    ASSERT_EQ(files.pending.size(), 1u);
    published.clear();
    files.answer(FileOfferOutcome { .failure = "The folder is read-only." });
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back().fileIssue, Text("The folder is read-only."));

    // The dialog may answer after the controller is gone.
    ASSERT_EQ(exportBot(id("ada")).error, std::nullopt);
    controller.reset();
    published.clear();
    files.answer(FileOfferOutcome { .failure = "Too late." });
    EXPECT_TRUE(published.empty());
}

}  // namespace
}  // namespace quorvane::testing
