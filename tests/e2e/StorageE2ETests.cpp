// Storage trouble: a keyring that is locked when the program starts (the storage sentence, and
// not a byte of the saved data changed), and a disk that fills up while a change is saved (the
// save sentence, sending paused, the user's text still in the composer; once there is room
// again, "Try again" in the page brings storage back and nothing is lost). A full disk is a
// file size limit on the running program: its writes then fail as they do on a full disk.

#include <sys/resource.h>

#include <fstream>
#include <map>
#include <sstream>

#include <glib.h>

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

constexpr const char* kHistoryCouldNotBeOpened = "Your local history couldn\u2019t be opened. Unlock your keyring "
                                                 "and reopen Quorvane. Your saved data hasn\u2019t been changed.";
constexpr const char* kReopenAfterUnlocking = "Reopen Quorvane after unlocking your keyring.";
constexpr const char* kSaveFailed
    = "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.";

// Every file under `top` with its bytes.
std::map<std::string, std::string> filesUnder(const std::filesystem::path& top)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        files[std::filesystem::relative(entry.path(), top).string()] = bytes.str();
    }
    return files;
}

std::string differences(
    const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& after)
{
    std::string said;
    for (const auto& [name, bytes] : before) {
        auto now = after.find(name);
        if (now == after.end())
            said += "gone: " + name + "\n";
        else if (now->second != bytes)
            said += "changed: " + name + "\n";
    }
    for (const auto& [name, bytes] : after) {
        if (!before.contains(name))
            said += "new: " + name + "\n";
    }
    return said;
}

void lockKeyring()
{
    gint status = 0;
    GError* error = nullptr;
    if (!g_spawn_command_line_sync("dbus-send --session --print-reply --dest=org.freedesktop.secrets "
                                   "/org/freedesktop/secrets org.freedesktop.Secret.Service.Lock "
                                   "array:objpath:/org/freedesktop/secrets/collection/login",
            nullptr, nullptr, &status, &error)
        || !g_spawn_check_wait_status(status, &error)) {
        std::string message = error ? error->message : "";
        g_clear_error(&error);
        throw std::runtime_error("The keyring could not be locked: " + message);
    }
}

bool holdsText(const boost::json::value& state, const std::string& words)
{
    for (const auto& m : messagesOf(state)) {
        if (stringAt(m, "text") == words)
            return true;
    }
    return false;
}

}  // namespace

using StorageTest = EndToEndTest;

TEST_F(StorageTest, ALockedKeyringAtStartShowsTheStorageSentenceAndChangesNothingOnDisk)
{
    launch();
    Conversation chat(*app);
    chat.connect();
    const std::string words = "Keep this safe.";
    chat.awaitFiledReply(chat.send(words));
    app->quit();
    const auto data = folder / "app" / "data";
    const auto before = filesUnder(data);

    lockKeyring();
    app->start();
    EXPECT_TRUE(waitFor("the storage sentence", [](const boost::json::value& s) {
        return !s.at("storageHealthy").as_bool() && stringAt(s, "issue") == kHistoryCouldNotBeOpened;
    }));
    EXPECT_FALSE(holdsText(state(), words)) << "the history cannot be read";
    EXPECT_EQ(chat.command("retryStorage"), boost::json::value(kReopenAfterUnlocking));
    app->quit();
    EXPECT_EQ(differences(before, filesUnder(data)), "");
}

TEST_F(StorageTest, AFullDiskPausesSendingUntilStorageIsRetriedAndNothingIsLost)
{
    launch();
    Conversation chat(*app);
    chat.connect();
    const std::string first = "The first thing to remember.";
    chat.awaitFiledReply(chat.send(first));

    // The disk is full: no file of the program may grow past a few bytes.
    app->limitFileSize(16);
    const std::string second = "The second thing to remember.";
    chat.type(second);
    chat.pressSend();
    EXPECT_TRUE(waitFor("the save sentence", [](const boost::json::value& s) {
        return !s.at("storageHealthy").as_bool() && stringAt(s, "issue") == kSaveFailed;
    }));
    EXPECT_EQ(chat.composerText(), second) << "the visible draft is still there";
    EXPECT_FALSE(holdsText(state(), second)) << "nothing was queued";

    // Room again; the page's "Try again" brings storage back, and the text can be sent.
    app->limitFileSize(RLIM_INFINITY);
    EXPECT_EQ(page(R"(
        const button = [...document.querySelectorAll('.banner button')].find((b) => b.textContent === 'Try again');
        if (!button) throw new Error('The page offers no Try again.');
        button.click();
        return true;)"),
        boost::json::value(true));
    EXPECT_TRUE(waitFor("storage healthy again",
        [](const boost::json::value& s) { return s.at("storageHealthy").as_bool() && stringAt(s, "issue").empty(); }));
    chat.pressSend();
    std::string id;
    ASSERT_TRUE(waitFor("the second message queued", [&](const boost::json::value& s) {
        for (const auto& m : messagesOf(s)) {
            if (stringAt(m, "text") == second)
                id = stringAt(m, "id");
        }
        return !id.empty();
    }));
    chat.awaitFiledReply(id);

    restart();
    EXPECT_TRUE(waitFor("both messages back after a restart",
        [&](const boost::json::value& s) { return holdsText(s, first) && holdsText(s, second); }));
}

}  // namespace quorvane::testing
