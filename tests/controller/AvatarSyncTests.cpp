// Avatar synchronisation: which sources become the primary bot's picture, and which leave it
// alone — bad data URLs, addresses off the Dot hosts, failed fetches, pictures that do not
// decode, and results that arrive after the user moved on.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ControllerHarness.hpp"
#include "Pictures.hpp"
#include "quorvane/controller/AvatarSource.hpp"

namespace quorvane::testing {
namespace {

// The length a data URL gets when its PNG is `bytes` long.
std::size_t dataURLLength(std::size_t bytes) { return 22 + (bytes + 2) / 3 * 4; }

// A red picture whose data URL is exactly `length` characters (a multiple of four past the
// prefix, as strict Base64 is).
std::string redDataURLOfLength(std::size_t length)
{
    std::size_t bytes = (length - 22) / 4 * 3;
    std::string url = dataURL(paddedPNG(solidPNG(kRed), bytes));
    EXPECT_EQ(url.size(), length);
    EXPECT_EQ(dataURLLength(bytes), length);
    return url;
}

std::optional<Text> primaryImage(const Account& account)
{
    for (const Bot& bot : account.bots)
        if (bot.id == "dot")
            return bot.image;
    return std::nullopt;
}

class AvatarSyncTest : public ControllerTest {
protected:
    // Runs one synchronisation for the active account, as the run loop starts it, with `during`
    // run half-way through the fetch; then lets every fetch finish.
    void synchronise(const std::string& source, const std::function<void(TaskHandle&)>& during = {})
    {
        controller->avatarSource = source;
        TaskHandle task = spawn(controller->syncAvatar(source, controller->vault().activeAccount.str()));
        scheduler.advance(avatars.delay / 2);
        if (during)
            during(task);
        scheduler.advance(avatars.delay * 2);
    }
};

TEST_F(AvatarSyncTest, SourcesAndWhatTheyGive)
{
    const std::string large = redDataURLOfLength(1'999'998);  // the longest strict Base64 within the limit
    const std::string tooLarge = redDataURLOfLength(2'000'002);
    struct Case {
        const char* name;
        std::string source;
        std::optional<AvatarResponse> response;  // what the address answers, when fetched
        std::optional<Colour> expected;  // the primary bot's picture afterwards
        bool fetched;
    };
    const AvatarResponse blue { 200, solidPNG(kBlue) };
    const std::vector<Case> cases = {
        { "data URL within the limit", large, std::nullopt, kRed, false },
        { "data URL over the limit", tooLarge, std::nullopt, std::nullopt, false },
        { "data URL with bad Base64", "data:image/png;base64,iVBO!w0KGgo=", std::nullopt, std::nullopt, false },
        { "data URL without padding", "data:image/png;base64," + base64(solidPNG(kRed)).substr(0, 10), std::nullopt,
            std::nullopt, false },
        { "plain http", "http://dot.example/avatar.png", blue, std::nullopt, false },
        { "foreign host", "https://elsewhere.example/avatar.png", blue, std::nullopt, false },
        { "host suffix without the dot", "https://evildot.example/avatar.png", blue, std::nullopt, false },
        { "port the host is not configured with", "https://dot.example:8443/avatar.png", blue, std::nullopt, false },
        { "main host", "https://dot.example/avatar.png", blue, kBlue, true },
        { "allowed subdomain", "https://cdn.files.dotcontent.example/a/b.png", blue, kBlue, true },
        { "status 404", "https://static.dot.example/gone.png", AvatarResponse { 404, solidPNG(kBlue) }, std::nullopt,
            true },
        { "undecodable image", "https://dot.example/garbage.png",
            AvatarResponse { 200, std::vector<std::uint8_t>(2000, 0x42) }, std::nullopt, true },
        { "unreachable", "https://dotcompany.example/nothing-answers.png", std::nullopt, std::nullopt, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        store = std::make_shared<StoreRecord>();
        avatars.responses.clear();
        avatars.fetched.clear();
        if (c.response)
            avatars.responses[c.source] = *c.response;
        make();
        const int saves = store->saves;
        synchronise(c.source);

        EXPECT_EQ(avatars.fetched.size(), c.fetched ? 1u : 0u);
        std::optional<Text> image = primaryImage(controller->vault().account());
        if (!c.expected) {
            EXPECT_FALSE(image);
            EXPECT_EQ(store->saves, saves);
            continue;
        }
        ASSERT_TRUE(image);
        auto decoded = decodeDataURL(image->str());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 256);
        EXPECT_EQ(decoded->height, 256);
        EXPECT_EQ(decoded->centre, *c.expected);
        EXPECT_EQ(store->saves, saves + 1);
        EXPECT_EQ(primaryImage(store->saved->account()), image);
    }
}

// The late result of a fetch must not land when the user moved on while it was under way.
TEST_F(AvatarSyncTest, LateResultsNeverLandElsewhere)
{
    const std::string address = "https://dot.example/avatar.png";
    struct Case {
        const char* name;
        std::function<void(ControllerTest&, Controller&, TaskHandle&)> during;
    };
    const std::vector<Case> cases = {
        { "cancelled", [](ControllerTest&, Controller&, TaskHandle& task) { task.cancel(); } },
        { "superseded by a newer picture",
            [](ControllerTest&, Controller& c, TaskHandle&) { c.avatarSource = "https://dot.example/newer.png"; } },
        { "account switched",
            [](ControllerTest&, Controller& c, TaskHandle&) {
                c.transaction([](Vault& vault) { vault.newAccount(); });
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        store = std::make_shared<StoreRecord>();
        avatars.responses = { { address, AvatarResponse { 200, solidPNG(kGreen) } } };
        make();
        const std::string original = controller->vault().activeAccount.str();
        synchronise(address, [&](TaskHandle& task) { c.during(*this, *controller, task); });
        for (const Account& account : controller->vault().accounts) {
            SCOPED_TRACE(account.id == original ? "original account" : "other account");
            EXPECT_FALSE(primaryImage(account));
        }
    }
}

TEST(AvatarSource, DataURLRuleEndsAt1999999Characters)
{
    const std::string prefix = "data:image/png;base64,";
    EXPECT_TRUE(isAvatarDataURL(prefix + std::string(1'999'999 - prefix.size(), 'A')));
    EXPECT_FALSE(isAvatarDataURL(prefix + std::string(2'000'000 - prefix.size(), 'A')));
    EXPECT_FALSE(isAvatarDataURL("data:image/jpeg;base64,AAAA"));
}

TEST(AvatarSource, AllowedAddresses)
{
    DotService service = testService();
    service.staticHost = "127.0.0.1:8443";
    const std::vector<std::pair<const char*, bool>> cases = {
        { "https://dot.example/a.png", true },
        { "https://DOT.example/a.png", true },
        { "https://dot.example:443/a.png", true },
        { "https://a.b.dot.example/a.png", true },
        { "https://127.0.0.1:8443/a.png", true },
        { "https://127.0.0.1/a.png", false },
        { "https://127.0.0.1:9000/a.png", false },
        { "https://xdot.example/a.png", false },
        { "https://dot.example.evil.example/a.png", false },
        { "https://.dot.example/a.png", false },
        { "http://dot.example/a.png", false },
        { "ftp://dot.example/a.png", false },
        { "dot.example/a.png", false },
        { "https:///a.png", false },
        { "", false },
    };
    for (const auto& [address, allowed] : cases) {
        SCOPED_TRACE(address);
        EXPECT_EQ(isAllowedAvatarAddress(address, service), allowed);
    }
}

}  // namespace
}  // namespace quorvane::testing
