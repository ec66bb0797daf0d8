// The first run: no vault yet, so a fresh one; connecting shows the Dot window for signing in;
// once signed in the window goes away, the connection is "connected", the primary bot takes the
// Dot profile's name and picture, and the application icon follows it in the "dot" style.

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

// The visible windows other than the main one.
std::vector<std::string> otherWindows(AppProcess& app)
{
    std::vector<std::string> titles;
    const auto status = app.status();
    for (const auto& window : status.at("windows").as_array()) {
        if (window.at("visible").as_bool() && !window.at("main").as_bool())
            titles.push_back(stringAt(window, "title"));
    }
    return titles;
}

bool waitForWindows(
    AppProcess& app, const std::function<bool(const std::vector<std::string>&)>& holds, double seconds = 60)
{
    double deadline = double(g_get_monotonic_time()) / G_USEC_PER_SEC + seconds;
    while (!holds(otherWindows(app))) {
        if (double(g_get_monotonic_time()) / G_USEC_PER_SEC > deadline)
            return false;
        g_usleep(100000);
    }
    return true;
}

}  // namespace

using FirstRunTest = EndToEndTest;

TEST_F(FirstRunTest, ConnectingSignsInAndTheProfileBecomesThePrimaryBot)
{
    const auto dataHome = folder / "app" / "data";
    startSimulator({ "--profile-name", "Mira Vale" });
    ASSERT_FALSE(std::filesystem::exists(dataHome / "Quorvane" / "vault.enc"));
    launch();
    EXPECT_TRUE(waitFor("a fresh vault's state", [](const boost::json::value& s) {
        return s.is_object() && s.at("storageHealthy") == boost::json::value(true) && !messagesOf(s).size();
    }));
    EXPECT_TRUE(std::filesystem::exists(dataHome / "Quorvane" / "vault.enc"));
    EXPECT_TRUE(otherWindows(*app).empty());

    EXPECT_EQ(answer(post("connect")), boost::json::value(nullptr));
    ASSERT_TRUE(waitForWindows(*app, [](const auto& titles) { return !titles.empty(); }))
        << "No Dot window opened for signing in.";
    EXPECT_NE(stringAt(state(), "connection"), "connected");

    // The user signs in there: the Dot page's Sign in button opens the service's sign-in window.
    Conversation chat(*app);
    chat.signInInDotWindow();
    EXPECT_TRUE(waitFor("the connection \"connected\"",
        [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; }));
    EXPECT_TRUE(waitForWindows(*app, [](const auto& titles) { return titles.empty(); }))
        << "The Dot window stayed open after signing in.";

    const std::string primary = "dot";
    EXPECT_TRUE(waitFor("the primary bot named and pictured after the profile", [&](const boost::json::value& s) {
        for (const auto& bot : s.at("account").at("bots").as_array()) {
            if (stringAt(bot, "id") == primary)
                return stringAt(bot, "name") == "Mira Vale" && stringAt(bot, "image").rfind("data:image/png", 0) == 0;
        }
        return false;
    }));

    const auto themedIcon = dataHome / "icons" / "hicolor" / "256x256" / "apps" / "local.vemir.quorvane.png";
    EXPECT_FALSE(std::filesystem::exists(themedIcon));
    EXPECT_EQ(answer(post("appIcon", { { "style", "dot" } })), boost::json::value(nullptr));
    EXPECT_TRUE(waitFor(
        "the icon style \"dot\"", [](const boost::json::value& s) { return stringAt(s, "appIconStyle") == "dot"; }));
    double deadline = double(g_get_monotonic_time()) / G_USEC_PER_SEC + 30;
    while (!std::filesystem::exists(themedIcon) && double(g_get_monotonic_time()) / G_USEC_PER_SEC < deadline)
        g_usleep(100000);
    EXPECT_TRUE(std::filesystem::exists(themedIcon)) << "The application icon did not follow the primary bot.";
    EXPECT_TRUE(std::filesystem::exists(dataHome / "Quorvane" / "DockIcon.png"));
}

}  // namespace quorvane::testing
