// "Check for Updates…" is enabled exactly when the update state says configured && canCheck.

#include <fstream>

#include "ShellHarness.hpp"
#include "quorvane/updates/Observation.hpp"

namespace quorvane::testing {
namespace {

// An updater whose ability to check the test switches by hand.
class FakeUpdater final : public Updater, public UpdaterController {
public:
    bool canCheckForUpdates() const override { return canCheck.get(); }
    bool automaticallyChecksForUpdates() const override { return automatic.get(); }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automatic.set(enabled); }
    Observation observeCanCheckForUpdates(std::function<void(bool)> observer) override
    {
        return canCheck.observe(std::move(observer));
    }
    Observation observeAutomaticallyChecksForUpdates(std::function<void(bool)> observer) override
    {
        return automatic.observe(std::move(observer));
    }
    std::optional<UpdateError> startUpdater() override { return std::nullopt; }
    void checkForUpdates() override { ++checks; }
    Updater& updater() override { return *this; }

    ObservableBool canCheck { true };
    ObservableBool automatic { false };
    int checks = 0;
};

class FakeDriver final : public UpdateDriver {
public:
    explicit FakeDriver(FakeUpdater*& made)
        : made_(made)
    {
    }
    std::unique_ptr<UpdaterController> makeController(
        const AppBundle&, std::weak_ptr<UpdaterDelegate>, std::weak_ptr<UserDriverDelegate>) override
    {
        auto updater = std::make_unique<FakeUpdater>();
        made_ = updater.get();
        return updater;
    }

private:
    FakeUpdater*& made_;
};

TEST_F(ShellTest, CheckForUpdatesFollowsConfiguredAndCanCheck)
{
    // A data folder whose Info.json carries a valid update configuration.
    char pattern[] = "/tmp/quorvane-shell-data-XXXXXX";
    ASSERT_NE(g_mkdtemp(pattern), nullptr);
    std::filesystem::path data = pattern;
    for (const char* name : { "dot-service.json", "dot-adapter.js" })
        std::filesystem::copy_file(std::filesystem::path(QUORVANE_TEST_DATA_DIR) / name, data / name);
    std::ofstream(data / "Info.json") << R"({"CFBundleShortVersionString": "0.1.0",
        "SUFeedURL": "https://updates.example/appcast.xml",
        "SUPublicEDKey": "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})";

    FakeUpdater* updater = nullptr;
    launch([&](ShellOptions& options) {
        options.dataDirectory = data;
        options.updateDriver = std::make_shared<FakeDriver>(updater);
    });
    ASSERT_NE(updater, nullptr);
    EXPECT_TRUE(shell().appUpdater().currentState().configured);
    ASSERT_TRUE(runUntil([&] { return shell().checkUpdatesEnabled(); }, 5));

    updater->canCheck.set(false);
    EXPECT_TRUE(runUntil([&] { return !shell().checkUpdatesEnabled(); }, 5));
    updater->canCheck.set(true);
    EXPECT_TRUE(runUntil([&] { return shell().checkUpdatesEnabled(); }, 5));

    // The menu item runs a user check; the page's "checkUpdates" does the same.
    g_action_group_activate_action(G_ACTION_GROUP(application->gtkApplication()), "check-updates", nullptr);
    EXPECT_EQ(updater->checks, 1);
    EXPECT_EQ(roundTrip("c", "checkUpdates").kind(), boost::json::kind::null);
    EXPECT_EQ(updater->checks, 2);

    // "automaticUpdates" with a boolean sets the updater and is kept in the settings.
    EXPECT_EQ(roundTrip("a", "automaticUpdates", "{\"enabled\": true}").kind(), boost::json::kind::null);
    EXPECT_TRUE(updater->automatic.get());
    EXPECT_EQ(shell().settings().automaticUpdateChecks(), std::optional<bool>(true));

    std::error_code ignored;
    std::filesystem::remove_all(data, ignored);
}

}  // namespace
}  // namespace quorvane::testing
