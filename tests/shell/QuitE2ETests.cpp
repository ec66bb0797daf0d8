// Quitting: at once before the page has loaded; after the page saved its draft; and when it
// could not, only if the user says so.

#include "ShellHarness.hpp"

namespace quorvane::testing {
namespace {

TEST_F(ShellTest, QuitBeforeThePageLoadedQuitsAtOnce)
{
    launch();
    // As if the page had not loaded yet: a new load clears `ready` until it finishes.
    webkit_web_view_reload(shell().webView());
    ASSERT_TRUE(runUntil([&] { return !shell().ready(); }, 5));
    shell().requestQuit();
    EXPECT_TRUE(runsUntilQuit(3));
}

TEST_F(ShellTest, QuitAfterTheDraftWasSavedQuits)
{
    launch();
    shell().requestQuit();
    EXPECT_TRUE(runsUntilQuit(5));
    EXPECT_EQ(shell().alert(), nullptr);
}

struct AlertAnswer {
    const char* name;
    const char* response;
    bool quits;
    friend void PrintTo(const AlertAnswer& answer, std::ostream* out) { *out << answer.name; }
};

class DraftAlertTest : public ShellTest, public ::testing::WithParamInterface<AlertAnswer> { };

TEST_P(DraftAlertTest, AFailedDraftAsksTheUser)
{
    launch();
    page("window.__test.flush = 'reject'; return true;");
    shell().requestQuit();
    ASSERT_TRUE(runUntil([&] { return shell().alert() != nullptr; }, 5));
    auto* alert = ADW_MESSAGE_DIALOG(shell().alert());
    EXPECT_STREQ(adw_message_dialog_get_heading(alert), "Your latest draft couldn’t be saved.");
    EXPECT_STREQ(adw_message_dialog_get_body(alert),
        "Keep Quorvane open to try again, or quit without saving the latest changes.");
    EXPECT_STREQ(adw_message_dialog_get_response_label(alert, "keep"), "Keep open");
    EXPECT_STREQ(adw_message_dialog_get_response_label(alert, "quit"), "Quit anyway");
    EXPECT_STREQ(adw_message_dialog_get_default_response(alert), "keep");
    EXPECT_EQ(record().at("flushed").as_int64(), 1);

    adw_message_dialog_response(alert, GetParam().response);
    EXPECT_EQ(runsUntilQuit(2), GetParam().quits);
}

INSTANTIATE_TEST_SUITE_P(Answers, DraftAlertTest,
    ::testing::Values(AlertAnswer { "KeepOpen", "keep", false }, AlertAnswer { "QuitAnyway", "quit", true }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellTest, ClosingTheWindowDoesNotQuitAndActivatingShowsItAgain)
{
    launch();
    GtkWindow* window = shell().mainWindow()->window();
    gtk_window_close(window);
    runFor(0.2);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    g_application_activate(G_APPLICATION(application->gtkApplication()));
    runFor(0.2);
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window)));
    EXPECT_FALSE(runsUntilQuit(0.5));
}

}  // namespace
}  // namespace quorvane::testing
