// Signing in to Dot through the page's own sign-in window, and the sign-in staying with the
// account's profile (and only with it).

#include "BrowserHarness.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane::testing {
namespace {

using SignInTest = BrowserTest;

TEST_F(SignInTest, SignInThroughThePopupWindow)
{
    startSimulator({});
    auto browser = makeBrowser(newUUID());
    auto wall = openAndInspect(*browser, simulator->origin + "/dots/home",
        [](const DotSnapshot& s) { return s.requiresSignIn.value_or(false); });
    EXPECT_FALSE(wall.ready);
    EXPECT_TRUE(wall.messages.empty());
    EXPECT_EQ(wall.reason, "Sign in to Dot to continue.");

    // The user presses the page's sign-in button; the page opens its own window.
    evalInPage(browser->webView(), "document.querySelector('[data-testid=\"login-button\"]').click(); 'clicked'");
    ASSERT_TRUE(runUntil([&] { return browser->popupCount() == 1; }));
    GtkWindow* popup = browser->popupWindow(0);
    EXPECT_STREQ(gtk_window_get_title(popup), "Sign in to Dot");
    int width = 0, height = 0;
    gtk_window_get_default_size(popup, &width, &height);
    EXPECT_EQ(width, 560);
    EXPECT_EQ(height, 720);

    auto* popupView = WEBKIT_WEB_VIEW(gtk_window_get_child(popup));
    ASSERT_TRUE(runUntil([&] {
        return evalInPage(popupView, "Boolean(document.querySelector('[data-testid=\"sign-in-submit\"]'))") == "true";
    }));
    evalInPage(popupView, "document.querySelector('[data-testid=\"sign-in-submit\"]').click(); 'submitted'");

    // The signed-in page tells its opener and closes itself; the browser lets the window go.
    ASSERT_TRUE(runUntil([&] { return browser->popupCount() == 0; }));
    auto signedIn = inspectUntil(*browser, [](const DotSnapshot& s) { return s.ready; });
    EXPECT_FALSE(signedIn.requiresSignIn.value_or(false));
    EXPECT_EQ(signedIn.url, simulator->origin + "/dots/home");
}

TEST_F(SignInTest, SignInStaysWithTheProfile)
{
    startSimulator({});
    const std::string profile = newUUID();
    const std::string home = simulator->origin + "/dots/home";
    {
        // The next visitor gets a session; then the service stops handing them out.
        simulator->control("sign-in");
        auto first = makeBrowser(profile);
        EXPECT_EQ(first->profileIdentifier(), profile);
        EXPECT_TRUE(openAndInspect(*first, home).ready);
        simulator->control("reset");
        first->shutdown();
    }
    runFor(0.5);

    auto again = makeBrowser(profile);
    auto snapshot = openAndInspect(*again, home);
    EXPECT_TRUE(snapshot.ready);
    EXPECT_FALSE(snapshot.requiresSignIn.value_or(false));

    auto other = makeBrowser(newUUID());
    auto stranger = openAndInspect(*other, home, [](const DotSnapshot& s) { return s.requiresSignIn.value_or(false); });
    EXPECT_FALSE(stranger.ready);

    // A profile that is not a UUID gets a fresh one, so it never shares another's sign-in.
    auto invalid = makeBrowser("not-a-uuid");
    EXPECT_NE(invalid->profileIdentifier(), "not-a-uuid");
    EXPECT_TRUE(openAndInspect(*invalid, home, [](const DotSnapshot& s) {
        return s.requiresSignIn.value_or(false);
    }).requiresSignIn);
}

}  // namespace
}  // namespace quorvane::testing
