// The desktop services the shell gives the controller: the save dialog that exports go through
// (its notice in view, the bytes written where the user chose, a failure told as a sentence), and
// reply notifications (only while the window is not the active one, only while the setting
// allows it, and leading back to the reply's conversation).

#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include <boost/json/parse.hpp>

#include "ShellHarness.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/PlatformServices.hpp"

namespace quorvane::testing {
namespace {

// The application's file chooser dialog that is on screen, or null. Without a desktop portal
// (as here) GtkFileChooserNative shows GTK's own chooser.
GtkWindow* shownFileChooser()
{
    GListModel* windows = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
        auto window = GObjectPtr<GtkWindow>::adopt(GTK_WINDOW(g_list_model_get_item(windows, i)));
        if (GTK_IS_FILE_CHOOSER(window.get()) && gtk_widget_get_mapped(GTK_WIDGET(window.get())))
            return window.get();
    }
    return nullptr;
}

bool showsLabel(GtkWidget* widget, std::string_view text)
{
    if (GTK_IS_LABEL(widget) && gtk_widget_is_drawable(widget) && text == gtk_label_get_text(GTK_LABEL(widget)))
        return true;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        if (showsLabel(child, text))
            return true;
    return false;
}

std::string contentsOf(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The question GTK asks before a file is replaced, or null.
GtkWindow* shownQuestion()
{
    GListModel* windows = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
        auto window = GObjectPtr<GtkWindow>::adopt(GTK_WINDOW(g_list_model_get_item(windows, i)));
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        if (GTK_IS_MESSAGE_DIALOG(window.get()) && gtk_widget_get_mapped(GTK_WIDGET(window.get())))
            return window.get();
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    return nullptr;
}

class DesktopServicesTest : public ShellTest {
protected:
    void TearDown() override
    {
        ShellTest::TearDown();
        std::error_code ignored;
        for (const auto& folder : folders_)
            std::filesystem::remove_all(folder, ignored);
    }

    // A folder of the case's own, removed when the case ends.
    std::filesystem::path temporaryFolder()
    {
        char pattern[] = "/tmp/quorvane-export-XXXXXX";
        EXPECT_NE(g_mkdtemp(pattern), nullptr);
        return folders_.emplace_back(pattern);
    }

    // Waits for the save dialog, saves as `file` in its folder, and closes it with `response`,
    // answering "Replace" when GTK asks first (counted in `replaceQuestions`).
    void answerDialog(const std::filesystem::path& file, int response = GTK_RESPONSE_ACCEPT)
    {
        GtkWindow* dialog = nullptr;
        ASSERT_TRUE(runUntil([&] { return (dialog = shownFileChooser()) != nullptr; }, 10));
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        auto folder = GObjectPtr<GFile>::adopt(g_file_new_for_path(file.parent_path().c_str()));
        ASSERT_TRUE(gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder.get(), nullptr));
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), file.filename().c_str());
        // Accepting goes through the dialog's button, as the user's click does: only that path
        // asks before replacing a file.
        if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response))
            gtk_widget_activate(button);
        else
            gtk_dialog_response(GTK_DIALOG(dialog), response);
        ASSERT_TRUE(runUntil(
            [&] {
                if (GtkWindow* question = shownQuestion()) {
                    ++replaceQuestions;
                    gtk_dialog_response(GTK_DIALOG(question), GTK_RESPONSE_ACCEPT);
                }
                return shownFileChooser() == nullptr;
            },
            10));
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    int replaceQuestions = 0;

private:
    std::vector<std::filesystem::path> folders_;
};

TEST_F(DesktopServicesTest, TheSaveDialogShowsTheNoticeAndWritesTheBytesWhereTheUserChose)
{
    launch();
    const std::filesystem::path folder = temporaryFolder();
    const std::string notice = "The exported file is not encrypted.";
    const std::string bytes = "# Your Dot\n\nDon\u2019t lose me.\n";
    std::optional<FileOfferOutcome> outcome;
    shell().fileSaver().offer(FileOffer { "Export Conversation", "Dot 2026-12-10.md", "text/markdown", notice, bytes },
        [&](FileOfferOutcome answer) { outcome = answer; });

    GtkWindow* dialog = nullptr;
    ASSERT_TRUE(runUntil([&] { return (dialog = shownFileChooser()) != nullptr; }, 10));
    EXPECT_STREQ(gtk_window_get_title(dialog), "Export Conversation");
    EXPECT_EQ(gtk_window_get_transient_for(dialog), shell().mainWindow()->window());
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GCharPtr name(gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(dialog)));
    G_GNUC_END_IGNORE_DEPRECATIONS
    EXPECT_STREQ(name.get(), "Dot 2026-12-10.md");
    runFor(0.5);
    EXPECT_TRUE(showsLabel(GTK_WIDGET(dialog), notice)) << "the notice is not in view";
    screenshot(dialog, std::filesystem::path(QUORVANE_TEST_ARTIFACTS_DIR) / "export-dialog.png");

    // An existing file is replaced whole, once the user said so.
    const std::filesystem::path target = folder / "Dot export.md";
    std::ofstream(target) << "an older, much longer export that must not leave a tail behind\n";
    answerDialog(target);
    EXPECT_EQ(replaceQuestions, 1);
    ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }, 10));
    EXPECT_TRUE(outcome->saved);
    EXPECT_EQ(outcome->failure, std::nullopt);
    EXPECT_EQ(contentsOf(target), bytes);
    // Nothing else is left in the folder (GIO's temporary file became the target).
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);

    // Cancelled: neither saved nor failed.
    outcome.reset();
    shell().fileSaver().offer(FileOffer { "Export Conversation", "Dot.md", "text/markdown", notice, bytes },
        [&](FileOfferOutcome answer) { outcome = answer; });
    answerDialog(folder / "Never.md", GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }, 10));
    EXPECT_FALSE(outcome->saved);
    EXPECT_EQ(outcome->failure, std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder / "Never.md"));
}

// Through the page's "export" command: the whole account in JSON, then a write that fails (into
// /proc, where no one can create a file, root included), which the page hears of as fileIssue
// until it dismisses it.
TEST_F(DesktopServicesTest, AnExportThatCannotBeWrittenReachesThePageAsASentence)
{
    launch();
    ASSERT_EQ(roundTrip("ready", "ready").kind(), boost::json::kind::null);
    const std::string account = shell().controller()->vault().account().id.str();
    const std::filesystem::path folder = temporaryFolder();

    post("json", "export", R"({"accountID":")" + account + R"(","format":"json"})");
    answerDialog(folder / "export.json");
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(folder / "export.json"); }, 10));
    runFor(0.2);
    const boost::json::value exported = boost::json::parse(contentsOf(folder / "export.json"));
    EXPECT_EQ(exported.at("bots").at(0).at("id"), "dot");
    EXPECT_TRUE(exported.at("messages").as_array().empty());
    EXPECT_EQ(replaceQuestions, 0);

    post("markdown", "export", R"({"accountID":")" + account + R"(","botID":"dot","format":"markdown"})");
    answerDialog("/proc/Dot export.md");
    std::string issue;
    ASSERT_TRUE(runUntil(
        [&] {
            const auto state = record().at("lastState");
            issue = state.is_object() ? std::string(state.at("fileIssue").as_string()) : "";
            return !issue.empty();
        },
        10));
    EXPECT_TRUE(issue.starts_with("Quorvane couldn\u2019t save \u201cDot export.md\u201d: ")) << issue;
    EXPECT_TRUE(issue.ends_with(".")) << issue;

    EXPECT_EQ(roundTrip("dismiss", "dismissFileIssue").kind(), boost::json::kind::null);
    EXPECT_TRUE(runUntil([&] { return record().at("lastState").at("fileIssue") == ""; }, 5));
}

TEST_F(DesktopServicesTest, RepliesNotifyOnlyWhileTheWindowIsNotActiveAndTheSettingAllows)
{
    std::vector<DesktopNotification> sent;
    launch([&](ShellOptions& options) {
        options.sendNotification = [&](const DesktopNotification& notification) { sent.push_back(notification); };
    });
    ASSERT_EQ(roundTrip("ready", "ready").kind(), boost::json::kind::null);
    EXPECT_TRUE(shell().settings().replyNotifications()) << "on unless the user turned them off";
    ASSERT_TRUE(runUntil([&] { return record().at("desktopSettings").as_array().size() >= 1; }, 5));
    EXPECT_EQ(record().at("desktopSettings").as_array().back(), boost::json::parse(R"({"replyNotifications":true})"));

    Controller& controller = *shell().controller();
    controller.transaction([](Vault& vault) {
        vault.account().saveBot(BotEdit { .name = "Ada", .personality = "Precise and calm.", .kind = "coder" });
        vault.account().selectedBot = "dot";
    });
    const std::string account = controller.vault().account().id.str();
    const std::string ada = controller.vault().account().bots.back().id.str();
    const ReplyNotice notice { account, ada, "Ada", "Four." };

    GtkWindow* main = shell().mainWindow()->window();
    ASSERT_TRUE(runUntil([&] { return gtk_window_is_active(main); }, 10));
    shell().replyNotifier().replyFiled(notice);
    EXPECT_TRUE(sent.empty()) << "the user is looking at the window";

    // Another window takes the focus.
    GtkWidget* other = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(other), "Elsewhere");
    gtk_window_present(GTK_WINDOW(other));
    ASSERT_TRUE(runUntil([&] { return !gtk_window_is_active(main); }, 10));
    shell().replyNotifier().replyFiled(notice);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].title, "Ada");
    EXPECT_EQ(sent[0].body, "Four.");
    EXPECT_EQ(sent[0].accountID, account);
    EXPECT_EQ(sent[0].botID, ada);

    // Turned off in Settings: honoured from the next reply on, and kept.
    EXPECT_EQ(roundTrip("off", "replyNotifications", R"({"enabled":false})").kind(), boost::json::kind::null);
    EXPECT_FALSE(shell().settings().replyNotifications());
    EXPECT_EQ(record().at("desktopSettings").as_array().back(), boost::json::parse(R"({"replyNotifications":false})"));
    shell().replyNotifier().replyFiled(notice);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(roundTrip("on", "replyNotifications", R"({"enabled":true})").kind(), boost::json::kind::null);
    shell().replyNotifier().replyFiled(notice);
    EXPECT_EQ(sent.size(), 2u);

    // Activating it brings the window forward with Ada's conversation.
    GVariant* target = g_variant_new("(ss)", account.c_str(), ada.c_str());
    g_action_group_activate_action(G_ACTION_GROUP(application->gtkApplication()), "show-conversation", target);
    EXPECT_EQ(controller.vault().account().selectedBot, ada);
    EXPECT_TRUE(runUntil([&] { return gtk_window_is_active(main); }, 10));
    // A conversation that is not there changes nothing.
    g_action_group_activate_action(G_ACTION_GROUP(application->gtkApplication()), "show-conversation",
        g_variant_new("(ss)", account.c_str(), "no-such-bot"));
    EXPECT_EQ(controller.vault().account().selectedBot, ada);
    gtk_window_destroy(GTK_WINDOW(other));
}

}  // namespace
}  // namespace quorvane::testing
