// The controller's run loop with the real DotBrowser against the Dot simulator, in real time:
// an account connects for the first time on the service's home conversation and sends its
// first messages. In the service's usual behaviour the first message opens a conversation of its
// own (the page moves to /dots/<UUID>); with --home-is-conversation the page stays at home. In
// both the replies arrive, in the same conversation, and the page is never pulled back.
// Along the way the profile name and picture of the signed-in Dot profile reach the primary bot
// (the picture through the libsoup fetcher, over the simulator's certificate).

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BrowserHarness.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/SecureStore.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/controller/AvatarSource.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/controller/SoupAvatarFetcher.hpp"

namespace quorvane::testing {
namespace {

struct BrowserFactory final : TransportFactory {
    std::unique_ptr<DotTransport> make(std::string_view profile) override
    {
        return std::make_unique<DotBrowser>(profile, QUORVANE_TEST_DATA_DIR);
    }
};

struct CountingPower final : PowerActivity {
    std::unique_ptr<Hold> hold(std::string_view) override
    {
        ++holds;
        return std::make_unique<Hold>();
    }
    int holds = 0;
};

struct NoPasteboard final : Pasteboard {
    void putPlainText(std::string_view) override { }
};

class HomeConversationTest : public BrowserTest, public ::testing::WithParamInterface<bool> {
protected:
    void TearDown() override
    {
        if (controller)
            controller->stop();
        controller.reset();
        avatars.reset();
        BrowserTest::TearDown();
    }

    void startController()
    {
        const DotService& service = DotService::current();
        avatars = std::make_unique<SoupAvatarFetcher>(SoupAvatarFetcherOptions {
            .allowed = [service](std::string_view url) { return isAllowedAvatarAddress(url, service); },
            .trustedCertificate = service.trustedCertificate,
        });
        const std::vector<std::uint8_t> key(SecureStore::keyLength, 0x5A);
        controller = std::make_unique<Controller>(ControllerServices {
            .transports = transports,
            .power = power,
            .pasteboard = pasteboard,
            .avatars = *avatars,
            .openStore = [this, key]() -> std::unique_ptr<VaultStorage> {
                return std::make_unique<SecureStore>(folder / "vault", key);
            },
        });
        controller->onChange = [this](const ClientState& state) { states.push_back(state); };
        controller->start();
        controller->connect();
    }

    std::string send(const std::string& text)
    {
        std::string id = newUUID();
        controller->transaction([&](Vault& vault) {
            vault.account().enqueue(text, id, false, std::nullopt, std::nullopt, std::nullopt, systemNow());
        });
        return id;
    }

    const ChatMessage* message(const std::string& id) const
    {
        for (const auto& m : controller->vault().account().messages)
            if (m.id == id)
                return &m;
        return nullptr;
    }

    // Waits for the request's reply to be filed and the queue to be empty.
    void awaitReply(const std::string& id)
    {
        bool done = runUntil([&] { return message(id + "-reply") && controller->vault().account().jobs.empty(); }, 60);
        ASSERT_TRUE(done) << "no reply for " << id << "; connection " << toString(controller->connection)
                          << ", issue \"" << controller->issue << "\", page error \"" << controller->browser().error()
                          << "\"";
    }

    BrowserFactory transports;
    CountingPower power;
    NoPasteboard pasteboard;
    std::unique_ptr<SoupAvatarFetcher> avatars;
    std::unique_ptr<Controller> controller;
    std::vector<ClientState> states;
};

TEST_P(HomeConversationTest, FirstMessagesFromHomeGetTheirReplies)
{
    const bool homeIsConversation = GetParam();
    std::vector<std::string> options = { "--signed-in", "--profile-name", "Harbour Dot" };
    if (homeIsConversation)
        options.push_back("--home-is-conversation");
    startSimulator(options);
    const std::string home = simulator->origin + "/dots/home";
    startController();

    ASSERT_TRUE(runUntil(
        [&] {
            return controller->vault().account().connectedOnce && controller->connection == ConnectionStatus::connected;
        },
        30))
        << "never connected; issue \"" << controller->issue << "\"";
    EXPECT_EQ(controller->vault().account().dotURL, home);
    EXPECT_FALSE(controller->browser().windowVisible()) << "the window is put away after the first connection";
    const std::size_t connectedAt = states.size();

    const std::string first = send("Hello from the harbour");
    ASSERT_NO_FATAL_FAILURE(awaitReply(first));
    EXPECT_NE(message(first + "-reply")->text.find("Hello from the harbour"), std::string::npos)
        << message(first + "-reply")->text;
    EXPECT_EQ(message(first)->status, MessageStatus::sent);

    const std::string conversation = controller->vault().account().dotURL.str();
    if (homeIsConversation) {
        EXPECT_EQ(conversation, home);
    } else {
        EXPECT_NE(conversation, home);
        EXPECT_TRUE(conversation.starts_with(simulator->origin + "/dots/"));
    }

    const std::string second = send("And a second line");
    ASSERT_NO_FATAL_FAILURE(awaitReply(second));
    EXPECT_NE(message(second + "-reply")->text.find("And a second line"), std::string::npos);
    EXPECT_EQ(controller->vault().account().dotURL, conversation) << "both messages in one conversation";

    // One conversation on the service holds both messages.
    const std::string key = conversation.substr(conversation.rfind('/') + 1);
    boost::json::value held = simulator->controlGet("conversations/" + key);
    std::size_t userTurns = 0;
    for (const auto& m : held.at("messages").as_array())
        userTurns += m.at("role") == "user";
    EXPECT_EQ(userTurns, 2u);

    for (std::size_t i = connectedAt; i < states.size(); ++i)
        EXPECT_NE(states[i].connection, ConnectionStatus::recovering) << "the page was pulled away at state " << i;
    EXPECT_GE(power.holds, 1);

    // The signed-in profile's name and picture reached the primary bot.
    ASSERT_TRUE(runUntil([&] { return controller->vault().account().bots.front().image.has_value(); }, 20));
    EXPECT_EQ(controller->vault().account().bots.front().name, "Harbour Dot");
    EXPECT_TRUE(controller->vault().account().bots.front().image->starts_with("data:image/png;base64,"));
}

INSTANTIATE_TEST_SUITE_P(SimulatorModes, HomeConversationTest, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "HomeIsConversation" : "HomeStartsNew"; });

}  // namespace
}  // namespace quorvane::testing
