#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>
#include <gtest/gtest.h>

#include "quorvane/updates/AppUpdater.hpp"
#include "quorvane/updates/AppcastUpdateDriver.hpp"

namespace quorvane {
namespace {

constexpr const char* validKey = "WlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlo=";  // 32 bytes

AppBundle validBundle(const char* version = "0.1.0")
{
    return AppBundle { boost::json::object {
        { "CFBundleShortVersionString", version },
        { "SUFeedURL", "https://updates.example/appcast.xml" },
        { "SUPublicEDKey", validKey },
    } };
}

// Stands in for the update framework: the test flips its properties and reports as it would.
class FakeController final : public UpdaterController, public Updater {
public:
    FakeController(std::optional<UpdateError> startError, bool* destroyed)
        : startError_(std::move(startError))
        , destroyed_(destroyed)
    {
    }
    ~FakeController() override { *destroyed_ = true; }

    std::optional<UpdateError> startUpdater() override
    {
        ++starts;
        return startError_;
    }
    void checkForUpdates() override { ++checks; }
    Updater& updater() override { return *this; }
    bool canCheckForUpdates() const override { return canCheck.get(); }
    bool automaticallyChecksForUpdates() const override { return automaticallyChecks.get(); }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automaticallyChecks.set(enabled); }
    Observation observeCanCheckForUpdates(std::function<void(bool)> observer) override
    {
        return canCheck.observe(std::move(observer));
    }
    Observation observeAutomaticallyChecksForUpdates(std::function<void(bool)> observer) override
    {
        return automaticallyChecks.observe(std::move(observer));
    }

    ObservableBool canCheck { true };
    ObservableBool automaticallyChecks { false };
    int starts = 0;
    int checks = 0;

private:
    std::optional<UpdateError> startError_;
    bool* destroyed_;
};

class FakeDriver final : public UpdateDriver {
public:
    std::unique_ptr<UpdaterController> makeController(
        const AppBundle&, std::weak_ptr<UpdaterDelegate> updater, std::weak_ptr<UserDriverDelegate> userDriver) override
    {
        ++made;
        updaterDelegate = updater;
        userDriverDelegate = userDriver;
        controllerDestroyed = false;
        auto made = std::make_unique<FakeController>(startError, &controllerDestroyed);
        controller = made.get();
        return made;
    }

    // The framework's callbacks, sent only while the delegate is alive, as the driver must.
    void finishCycle(std::optional<UpdateError> error)
    {
        if (auto delegate = updaterDelegate.lock())
            delegate->didFinishUpdateCycle(UpdateCheck::updates, error);
    }
    void showUpdate(const char* displayVersion, std::optional<std::string> releasePage = std::nullopt)
    {
        if (auto delegate = userDriverDelegate.lock())
            delegate->willHandleShowingUpdate(
                true, UpdateItem { "v", displayVersion, false, std::move(releasePage) }, UserUpdateState { true });
    }
    void finishSession()
    {
        if (auto delegate = userDriverDelegate.lock())
            delegate->willFinishUpdateSession();
    }

    std::optional<UpdateError> startError;
    int made = 0;
    FakeController* controller = nullptr;
    bool controllerDestroyed = false;
    std::weak_ptr<UpdaterDelegate> updaterDelegate;
    std::weak_ptr<UserDriverDelegate> userDriverDelegate;
};

UpdateError frameworkError(int code) { return UpdateError { UpdateError::domainName, code, "" }; }

class AppUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drain();  // nothing left over from an earlier test
        updater = std::make_unique<AppUpdater>(driver);
        updater->onChange = [published = published](const AppUpdateState& state) { published->push_back(state); };
    }

    static void drain()
    {
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }

    // Starts with a valid bundle and lets the initial observations publish.
    void startConfigured()
    {
        updater->start(validBundle());
        drain();
        ASSERT_TRUE(updater->currentState().configured);
        published->clear();
    }

    const AppUpdateState& last() const { return published->back(); }

    std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
    std::shared_ptr<std::vector<AppUpdateState>> published = std::make_shared<std::vector<AppUpdateState>>();
    std::unique_ptr<AppUpdater> updater;
};

TEST_F(AppUpdaterTest, InvalidOrMissingConfigurationPublishesUnavailableWithoutAController)
{
    struct Case {
        const char* name;
        AppBundle bundle;
        const char* version;
    };
    boost::json::object httpFeed = *validBundle("2.0").infoDictionary;
    httpFeed["SUFeedURL"] = "http://updates.example/appcast.xml";
    boost::json::object numericVersion = *validBundle().infoDictionary;
    numericVersion["CFBundleShortVersionString"] = 3;
    numericVersion.erase("SUPublicEDKey");
    const std::vector<Case> cases = {
        { "no information", AppBundle {}, "" },
        { "empty information", AppBundle { boost::json::object {} }, "" },
        { "http feed", AppBundle { httpFeed }, "2.0" },
        { "version not a string, no key", AppBundle { numericVersion }, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        published->clear();
        AppUpdater fresh(driver);
        fresh.onChange = [published = published](const AppUpdateState& state) { published->push_back(state); };
        fresh.start(c.bundle);
        drain();
        ASSERT_EQ(published->size(), 1u);
        AppUpdateState expected;
        expected.version = c.version;
        EXPECT_EQ(last(), expected);
        fresh.checkForUpdates();
        fresh.setAutomaticallyChecksForUpdates(true);
        EXPECT_EQ(published->size(), 1u);
    }
    EXPECT_EQ(driver->made, 0);
}

TEST_F(AppUpdaterTest, FailedStartDropsTheControllerAndStaysUnavailable)
{
    driver->startError = frameworkError(4);
    updater->start(validBundle());
    EXPECT_EQ(driver->made, 1);
    EXPECT_TRUE(driver->controllerDestroyed);
    ASSERT_EQ(published->size(), 1u);
    AppUpdateState expected;
    expected.version = "0.1.0";
    EXPECT_EQ(last(), expected);

    updater->checkForUpdates();
    updater->publish();
    EXPECT_EQ(last(), expected);
}

TEST_F(AppUpdaterTest, StartRunsTheUpdaterAndMirrorsItsObservedProperties)
{
    updater->start(validBundle("3.1"));
    ASSERT_EQ(driver->made, 1);
    FakeController& controller = *driver->controller;
    EXPECT_EQ(controller.starts, 1);
    ASSERT_EQ(published->size(), 1u);
    EXPECT_EQ(last(), (AppUpdateState { true, "idle", "3.1", std::nullopt, false, true }));

    // The observations' initial values publish later, on the main loop.
    drain();
    EXPECT_EQ(published->size(), 3u);

    published->clear();
    controller.canCheck.set(false);
    controller.automaticallyChecks.set(true);
    EXPECT_TRUE(published->empty()) << "observers must not publish synchronously";
    drain();
    ASSERT_FALSE(published->empty());
    EXPECT_FALSE(last().canCheck);
    EXPECT_TRUE(last().automaticallyChecks);

    published->clear();
    updater->start(validBundle("9.9"));
    drain();
    EXPECT_EQ(driver->made, 1);
    EXPECT_EQ(controller.starts, 1);
    EXPECT_TRUE(published->empty());
    EXPECT_EQ(updater->currentState().version, "3.1");
}

TEST_F(AppUpdaterTest, UserCheckGoesToCheckingUnlessAnUpdateIsAvailable)
{
    startConfigured();
    FakeController& controller = *driver->controller;

    updater->checkForUpdates();
    EXPECT_EQ(controller.checks, 1);
    ASSERT_EQ(published->size(), 1u);
    EXPECT_EQ(last().status, "checking");

    struct Case {
        const char* name;
        std::function<void()> reach;
        const char* before;
        const char* after;
    };
    const std::vector<Case> cases = {
        { "from current", [&] { driver->finishCycle(frameworkError(UpdateError::noUpdateError)); }, "current",
            "checking" },
        { "from error", [&] { driver->finishCycle(frameworkError(2001)); }, "error", "checking" },
        { "from idle", [&] { driver->finishCycle(std::nullopt); }, "idle", "checking" },
        { "from available", [&] { driver->showUpdate("0.2"); }, "available", "available" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.reach();
        ASSERT_EQ(updater->currentState().status, c.before);
        int checksBefore = controller.checks;
        published->clear();
        updater->checkForUpdates();
        EXPECT_EQ(controller.checks, checksBefore + 1);
        ASSERT_EQ(published->size(), 1u);
        EXPECT_EQ(last().status, c.after);
    }
    EXPECT_EQ(last().availableVersion, Text("0.2"));  // still offered while checking again
}

TEST_F(AppUpdaterTest, UserCheckDoesNothingWhileTheUpdaterCannotCheck)
{
    startConfigured();
    FakeController& controller = *driver->controller;
    controller.canCheck.set(false);
    drain();
    published->clear();
    updater->checkForUpdates();
    EXPECT_EQ(controller.checks, 0);
    EXPECT_TRUE(published->empty());
    EXPECT_EQ(updater->currentState().status, "idle");
}

TEST_F(AppUpdaterTest, CycleEndSetsTheStatusFromTheErrorAndClearsTheOffer)
{
    startConfigured();
    struct Case {
        const char* name;
        std::optional<UpdateError> error;
        const char* status;
    };
    const std::vector<Case> cases = {
        { "no error", std::nullopt, "idle" },
        { "no update found", frameworkError(UpdateError::noUpdateError), "current" },
        { "installation cancelled", frameworkError(UpdateError::installationCanceledError), "idle" },
        { "feed error", frameworkError(UpdateError::appcastError), "error" },
        { "no-update code of another domain", UpdateError { "org.example.other", UpdateError::noUpdateError, "" },
            "error" },
        { "cancel code of another domain",
            UpdateError { "org.example.other", UpdateError::installationCanceledError, "" }, "error" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver->showUpdate("0.2", "https://updates.example/0.2");
        ASSERT_EQ(updater->currentState().status, "available");
        ASSERT_EQ(updater->availableReleasePage(), "https://updates.example/0.2");
        published->clear();
        driver->finishCycle(c.error);
        ASSERT_EQ(published->size(), 1u);
        EXPECT_EQ(last().status, c.status);
        EXPECT_EQ(last().availableVersion, std::nullopt);
        EXPECT_EQ(updater->availableReleasePage(), std::nullopt);
        EXPECT_TRUE(last().configured);  // never returns to false
    }
}

TEST_F(AppUpdaterTest, AnUpdateShownIsAvailableUntilItsSessionEnds)
{
    startConfigured();
    driver->showUpdate("0.2 beta");
    ASSERT_EQ(published->size(), 1u);
    EXPECT_EQ(last(), (AppUpdateState { true, "available", "0.1.0", Text("0.2 beta"), false, true }));

    driver->finishSession();
    EXPECT_EQ(last(), (AppUpdateState { true, "idle", "0.1.0", std::nullopt, false, true }));

    // A session that ends after the cycle already settled leaves that status alone.
    driver->showUpdate("0.3");
    driver->finishCycle(frameworkError(UpdateError::noUpdateError));
    driver->finishSession();
    EXPECT_EQ(last().status, "current");
    EXPECT_EQ(last().availableVersion, std::nullopt);
}

TEST_F(AppUpdaterTest, OnlyCriticalScheduledUpdatesAreShownAtOnce)
{
    startConfigured();
    auto delegate = driver->userDriverDelegate.lock();
    ASSERT_TRUE(delegate);
    EXPECT_TRUE(delegate->supportsGentleScheduledUpdateReminders());
    EXPECT_TRUE(delegate->shouldHandleShowingScheduledUpdate(UpdateItem { "2", "2", true, {} }, false));
    EXPECT_TRUE(delegate->shouldHandleShowingScheduledUpdate(UpdateItem { "2", "2", true, {} }, true));
    EXPECT_FALSE(delegate->shouldHandleShowingScheduledUpdate(UpdateItem { "2", "2", false, {} }, true));
}

TEST_F(AppUpdaterTest, AutomaticChecksSwitchSetsTheUpdaterAndPublishes)
{
    startConfigured();
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(driver->controller->automaticallyChecks.get());
    ASSERT_EQ(published->size(), 1u);
    EXPECT_TRUE(last().automaticallyChecks);
    drain();  // the observation publishes again
    EXPECT_EQ(published->size(), 2u);
    EXPECT_TRUE(last().automaticallyChecks);
}

TEST_F(AppUpdaterTest, NothingReachesAnUpdaterThatIsGone)
{
    startConfigured();
    auto calls = std::make_shared<int>(0);
    updater->onChange = [calls](const AppUpdateState&) { ++*calls; };
    driver->controller->canCheck.set(false);  // schedules a publish on the main loop

    updater.reset();
    EXPECT_TRUE(driver->controllerDestroyed);
    EXPECT_TRUE(driver->updaterDelegate.expired());
    EXPECT_TRUE(driver->userDriverDelegate.expired());
    drain();
    EXPECT_EQ(*calls, 0);
}

TEST(AppUpdaterShipped, ShippedInfoLeavesUpdatesUnavailable)
{
    AppUpdater updater(std::make_shared<AppcastUpdateDriver>());
    std::vector<AppUpdateState> published;
    updater.onChange = [&](const AppUpdateState& state) { published.push_back(state); };
    updater.start(AppBundle::load(QUORVANE_BUILD_DATA_DIR));
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(encodeJSON(published.back()),
        R"({"configured":false,"status":"unavailable","version":"0.1.0","automaticallyChecks":false,"canCheck":false})");
}

}  // namespace
}  // namespace quorvane
