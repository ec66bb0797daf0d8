// Publishing state: the page always holds the complete state, however it got there; the icon
// follows the primary bot; the icon files are written once per change.

#include <sys/stat.h>

#include <random>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "ShellHarness.hpp"
#include "quorvane/controller/PageJSON.hpp"
#include "quorvane/icons/DockIconContract.hpp"

namespace quorvane::testing {
namespace {

ChatMessage message(const std::string& id, const std::string& botID, const std::string& text, Date date)
{
    ChatMessage m;
    m.id = id;
    m.botID = botID;
    m.role = (date > 0 && int(date) % 2) ? MessageRole::assistant : MessageRole::user;
    m.text = text;
    m.date = date;
    m.status = MessageStatus::sent;
    return m;
}

// A state built the way the controller builds them: copies share the message list and texts.
ClientState initialState(std::mt19937& random, int messages)
{
    ClientState state;
    state.account = Account::fresh();
    state.theme = Theme::light;
    state.appIconStyle = AppIconStyle::quorvane;
    for (int i = 0; i < messages; ++i) {
        state.account.messages.push_back(message("m" + std::to_string(i), "dot",
            "Message " + std::to_string(i) + " " + std::string(random() % 200, 'x') + " — “quoted” \\ \n end",
            100.0 + i));
    }
    state.accounts = { SavedAccount { state.account.id, "Dot connection 1", true } };
    return state;
}

class PublicationTest : public ShellTest {
protected:
    void launchQuietly(std::size_t partBytes = ShellOptions().publicationPartBytes)
    {
        launch([&](ShellOptions& options) { options.publicationPartBytes = partBytes; });
        // The test alone publishes: the controller's own publications would interleave.
        shell().controller()->onChange = nullptr;
        ASSERT_EQ(roundTrip("ready", "ready").kind(), boost::json::kind::null);
    }

    void publishAndWait(const ClientState& state)
    {
        auto count = [&] { return page("return window.__test.states;").as_int64(); };
        auto before = count();
        shell().publish(state);
        ASSERT_TRUE(runUntil([&] { return count() > before; }, 20));
    }

    std::string differenceFromPage(const ClientState& state)
    {
        auto shown = page("return window.__test.lastState;");
        auto expected = boost::json::parse(encodePageJSON(state));
        return jsonDifference(shown, expected);
    }
};

// How large a part of a complete publication may grow: the shipped size, which these short
// histories fit in whole, and a size that splits them into a dozen parts and more.
struct PartSize {
    const char* name;
    std::size_t bytes;
};

class PublicationInParts : public PublicationTest, public ::testing::WithParamInterface<PartSize> {
};

// A long random run of changes (messages added, edited, removed and moved; fields of the state
// and the account changed; live replies; accounts switched; the page reloaded): after every one,
// the state the page received equals, field by field, a complete encoding of the state.
TEST_P(PublicationInParts, TheRebuiltStateEqualsAFullEncodingAfterEveryChange)
{
    launchQuietly(GetParam().bytes);
    std::mt19937 random(20261210);
    ClientState state = initialState(random, 120);
    publishAndWait(state);
    ASSERT_EQ(differenceFromPage(state), "");

    int serial = 1000;
    for (int step = 0; step < 160; ++step) {
        int kind = int(random() % 24);
        SCOPED_TRACE("step " + std::to_string(step) + ", change " + std::to_string(kind));
        auto& messages = state.account.messages;
        switch (kind) {
        case 0:
        case 1:  // a message added
            messages.push_back(
                message("m" + std::to_string(serial++), "dot", "new " + std::to_string(random()), 5000.0 + step));
            break;
        case 2:  // a message edited
            if (!messages.empty()) {
                auto& m = messages.mutableAt(random() % messages.size());
                m.text = "edited " + std::to_string(random());
                m.status = random() % 2 ? MessageStatus::sent : MessageStatus::queued;
            }
            break;
        case 3:  // a message removed
            if (!messages.empty())
                messages.erase(messages.cbegin() + std::ptrdiff_t(random() % messages.size()));
            break;
        case 4:  // a message moved
            if (messages.size() > 2) {
                auto from = random() % messages.size();
                ChatMessage moved = messages.cbegin()[std::ptrdiff_t(from)];
                messages.erase(messages.cbegin() + std::ptrdiff_t(from));
                messages.insert(messages.cbegin() + std::ptrdiff_t(random() % messages.size()), moved);
            }
            break;
        case 5: {  // a live reply starts, grows or ends
            if (state.liveReply && random() % 3 == 0) {
                state.liveReply.reset();
                state.liveReplies.clear();
            } else {
                auto live = message("live-reply", "dot", "streaming " + std::to_string(step), 9000);
                live.status = MessageStatus::streaming;
                state.liveReply = live;
                state.liveReplies = { live };
            }
            break;
        }
        case 6:  // display settings
            state.theme = std::vector<Theme> { Theme::light, Theme::dark, Theme::system }[random() % 3];
            state.systemDark = random() % 2;
            break;
        case 7:  // account fields other than the messages
            state.account.drafts["dot"] = "draft " + std::to_string(random());
            if (random() % 2)
                state.account.unreadBots = std::vector<Text> { "dot" };
            else
                state.account.unreadBots.reset();
            break;
        case 8:  // connection and issue
            state.connection = random() % 2 ? ConnectionStatus::connected : ConnectionStatus::recovering;
            state.issue = random() % 2 ? "" : "Dot is still loading.";
            break;
        case 9: {  // another account
            ClientState other = initialState(random, int(random() % 60));
            state.account = other.account;
            state.accounts.push_back(
                SavedAccount { state.account.id, "Dot connection " + std::to_string(state.accounts.size() + 1), true });
            break;
        }
        case 10:  // the page reloads: it gets everything again
            webkit_web_view_reload(shell().webView());
            ASSERT_TRUE(runUntil([&] { return !shell().ready(); }, 5));
            ASSERT_TRUE(runUntil([&] { return shell().ready(); }, 20));
            break;
        default:  // nothing changed at all
            break;
        }
        publishAndWait(state);
        ASSERT_EQ(differenceFromPage(state), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PublicationInParts,
    ::testing::Values(PartSize { "Shipped", ShellOptions().publicationPartBytes }, PartSize { "Small", 2048 }),
    [](const auto& info) { return std::string(info.param.name); });

// The page takes a complete state in parts only as one unbroken sequence: a part out of order, a
// part of another publication, or a change while parts are missing is refused, and receiveState
// never sees a state put together from pieces that do not belong together.
TEST_F(PublicationTest, ThePageRefusesPartsThatDoNotContinueTheStateBeingPutTogether)
{
    launchQuietly();
    const std::string head = R"({"seq":90,"base":0,"more":true,"state":{"account":{"messages":[]},"theme":"dark"}})";
    auto part = [](int seq, int number, const char* id, bool more) {
        return std::string(R"({"seq":)") + std::to_string(seq) + R"(,"part":)" + std::to_string(number)
            + R"(,"messages":[{"id":")" + id + R"(","text":")" + id + R"("}],"more":)" + (more ? "true" : "false")
            + "}";
    };
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        std::vector<bool> accepted;
        int statesAfter;  // receiveState calls the sequence makes
    };
    const std::vector<Case> cases = {
        { "in order", { head, part(90, 1, "a", true), part(90, 2, "b", false) }, { true, true, true }, 1 },
        { "a part skipped", { head, part(90, 2, "b", false), part(90, 1, "a", false) }, { true, false, false }, 0 },
        { "another publication's part", { head, part(91, 1, "a", false) }, { true, false }, 0 },
        { "a part with no head", { part(90, 1, "a", false) }, { false }, 0 },
        { "a change while parts are missing",
            { head, part(90, 1, "a", true), R"({"seq":91,"base":90,"keys":["theme"],"set":{}})" },
            { true, true, false }, 0 },
        { "a new head starts over",
            { head, part(90, 1, "a", true), R"({"seq":95,"base":0,"more":true,"state":{"account":{"messages":[]}}})",
                part(95, 1, "c", false), part(90, 2, "b", false) },
            { true, true, true, true, false }, 1 },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto before = record().at("states").as_int64();
        for (std::size_t i = 0; i < test.texts.size(); ++i) {
            auto quoted = boost::json::serialize(boost::json::value(test.texts[i]));
            auto answer = page("return window.quorvaneStateTransport.apply(" + quoted + ");");
            EXPECT_EQ(answer.at("accepted").as_bool(), bool(test.accepted[i])) << "text " << i;
        }
        EXPECT_EQ(record().at("states").as_int64() - before, test.statesAfter);
    }
    auto last = record().at("lastState");
    ASSERT_EQ(last.at("account").at("messages").as_array().size(), 1u);
    EXPECT_EQ(last.at("account").at("messages").at(0).at("id"), "c");
}

// The page memoises on message identity: a publication that changes only the live reply hands
// it the very same message objects as before.
TEST_F(PublicationTest, UnchangedMessagesKeepTheirIdentity)
{
    launchQuietly();
    std::mt19937 random(7);
    ClientState state = initialState(random, 200);
    publishAndWait(state);
    auto live = message("live-reply", "dot", "streaming", 9000);
    state.liveReply = live;
    state.liveReplies = { live };
    publishAndWait(state);
    EXPECT_EQ(record().at("reused").as_int64(), 200);

    state.account.messages.push_back(message("added", "dot", "new", 9001));
    publishAndWait(state);
    EXPECT_EQ(record().at("reused").as_int64(), 200);
    EXPECT_EQ(differenceFromPage(state), "");
}

std::string pngDataURL()
{
    GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 64, 64);
    gdk_pixbuf_fill(picture, 0xd0306aff);
    gchar* buffer = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(picture, &buffer, &size, "png", nullptr, nullptr);
    g_object_unref(picture);
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(buffer), size);
    std::string url = std::string("data:image/png;base64,") + encoded;
    g_free(encoded);
    g_free(buffer);
    return url;
}

struct SignalCounter {
    GDBusConnection* bus = nullptr;
    guint subscription = 0;
    int count = 0;

    SignalCounter()
    {
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        subscription = g_dbus_connection_signal_subscribe(
            bus, nullptr, dockicon::signalInterface, dockicon::signalMember, dockicon::signalObjectPath,
            dockicon::notificationName, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
                ++static_cast<SignalCounter*>(data)->count;
            },
            this, nullptr);
    }
    ~SignalCounter()
    {
        g_dbus_connection_signal_unsubscribe(bus, subscription);
        g_object_unref(bus);
    }
};

struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    timespec modified {};
    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && inode == o.inode && modified.tv_sec == o.modified.tv_sec
            && modified.tv_nsec == o.modified.tv_nsec;
    }
};

FileStamp stamp(const std::filesystem::path& file)
{
    struct stat info { };
    if (::stat(file.c_str(), &info) != 0)
        return {};
    return { true, info.st_ino, info.st_mtim };
}

TEST_F(PublicationTest, TheIconIsWrittenOncePerKeyChange)
{
    launchQuietly();
    SignalCounter signals;
    std::mt19937 random(3);
    ClientState state = initialState(random, 3);
    const auto dockIcon = dockicon::iconFilePath();
    const auto themed = AppIconPublisher::themedIconFile(128);
    // The first publication applied the default icon already (the key starts empty).
    runUntil([&] { return signals.count > 0; }, 1);
    int before = signals.count;

    state.appIconStyle = AppIconStyle::dot;
    state.account.bots[0].image = pngDataURL();
    publishAndWait(state);
    ASSERT_TRUE(runUntil([&] { return signals.count == before + 1; }, 5));
    auto written = stamp(dockIcon);
    EXPECT_TRUE(written.exists);
    for (int size : AppIconPublisher::kThemedSizes) {
        SCOPED_TRACE(size);
        GdkPixbuf* icon = gdk_pixbuf_new_from_file(AppIconPublisher::themedIconFile(size).c_str(), nullptr);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(icon), size);
        g_object_unref(icon);
    }

    // The same key again (another state, same picture): nothing is written or signalled.
    state.theme = Theme::dark;
    publishAndWait(state);
    runFor(0.3);
    EXPECT_EQ(signals.count, before + 1);
    EXPECT_EQ(stamp(dockIcon), written);

    // The default style restores the shipped icon: the files go, once.
    state.appIconStyle = AppIconStyle::quorvane;
    publishAndWait(state);
    ASSERT_TRUE(runUntil([&] { return signals.count == before + 2; }, 5));
    EXPECT_FALSE(stamp(dockIcon).exists);
    EXPECT_FALSE(stamp(themed).exists);
    EXPECT_EQ(shell().appIcon().lastKey(), "quorvane");
}

TEST_F(PublicationTest, AThemeOtherThanSystemOverridesTheDesktop)
{
    launchQuietly();
    std::mt19937 random(5);
    ClientState state = initialState(random, 1);
    struct Case {
        Theme theme;
        bool systemDark;
        bool dark;
    };
    const Case cases[] = { { Theme::dark, false, true }, { Theme::light, true, false }, { Theme::system, true, true },
        { Theme::system, false, false } };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(toString(c.theme)) + (c.systemDark ? " on a dark desktop" : " on a light desktop"));
        state.theme = c.theme;
        state.systemDark = c.systemDark;
        publishAndWait(state);
        EXPECT_EQ(bool(adw_style_manager_get_dark(adw_style_manager_get_default())), c.dark);
    }
}

}  // namespace
}  // namespace quorvane::testing
