// Start-up while the vault is still opening: the window and the page come up first; commands
// the page sends meanwhile wait and are carried out in order once the vault is open; the window
// starts in the theme of the last run, and the vault's own choice takes over.

#include <atomic>
#include <chrono>
#include <thread>

#include <boost/json/serialize.hpp>

#include "ShellHarness.hpp"
#include "quorvane/SecureStore.hpp"

namespace quorvane::testing {
namespace {

class StartupTest : public ShellTest {
protected:
    void TearDown() override
    {
        open = true;  // an opening still held back would keep the application from closing
        ShellTest::TearDown();
    }

    // Launches with a store that opens only once the test lets it.
    void launchWithHeldVault()
    {
        launch(
            [this](ShellOptions& options) {
                options.openStore = [this]() -> std::unique_ptr<VaultStorage> {
                    while (!open)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    return std::make_unique<SecureStore>();
                };
            },
            false);
    }

    std::atomic<bool> open = false;
};

TEST_F(StartupTest, CommandsSentWhileTheVaultOpensAreCarriedOutInOrderOnceItIsOpen)
{
    launchWithHeldVault();
    ASSERT_EQ(shell().controller(), nullptr);
    post("first", "theme", R"({"theme": "dark"})");
    post("second", "theme", R"({"theme": "system"})");
    runFor(0.5);
    EXPECT_EQ(record().at("results").as_array().size(), 0u) << "answered before the vault was open";
    EXPECT_EQ(record().at("states").as_int64(), 0);

    open = true;
    ASSERT_TRUE(runUntil([&] { return record().at("results").as_array().size() == 2; }));
    auto results = record().at("results").as_array();
    EXPECT_EQ(results[0].at("id").as_string(), "first");
    EXPECT_EQ(results[1].at("id").as_string(), "second");
    for (const auto& result : results)
        EXPECT_TRUE(result.at("error").is_null()) << boost::json::serialize(result);
    ASSERT_NE(shell().controller(), nullptr);
    EXPECT_EQ(shell().controller()->vault().theme, Theme::system);
    ASSERT_TRUE(runUntil([&] {
        auto state = record().at("lastState");
        return state.is_object() && state.at("theme") == "system";
    }));
    EXPECT_GE(record().at("states").as_int64(), 1);
}

TEST_F(StartupTest, TheWindowStartsInTheLastRunsThemeUntilTheVaultSaysOtherwise)
{
    // The last run's copy says dark; the vault that opens is a fresh one, which is light.
    ShellSettings(QUORVANE_TEST_DATA_DIR).setStartTheme("dark");
    launchWithHeldVault();
    AdwStyleManager* style = adw_style_manager_get_default();
    EXPECT_TRUE(adw_style_manager_get_dark(style));

    open = true;
    ASSERT_TRUE(runUntil([&] { return shell().controller() != nullptr; }));
    EXPECT_FALSE(adw_style_manager_get_dark(style));
    EXPECT_EQ(shell().settings().startTheme(), "light");

    EXPECT_EQ(roundTrip("dark", "theme", R"({"theme": "dark"})").kind(), boost::json::kind::null);
    EXPECT_TRUE(adw_style_manager_get_dark(style));
    EXPECT_EQ(shell().settings().startTheme(), "dark");
}

TEST_F(StartupTest, QuittingWhileTheVaultOpensQuits)
{
    launchWithHeldVault();
    shell().requestQuit();
    open = true;
    EXPECT_TRUE(runsUntilQuit(10));
    EXPECT_EQ(shell().alert(), nullptr);
}

}  // namespace
}  // namespace quorvane::testing
