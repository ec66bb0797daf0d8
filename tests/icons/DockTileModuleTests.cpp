// Loads the built Dock tile module the way a host would, hands it a fake tile, and drives
// it with the application's real change signal on a private session bus.

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gmodule.h>
#include <gtest/gtest.h>

#include "IconTestSupport.hpp"
#include "quorvane/docktile/DockTilePlugIn.hpp"
#include "quorvane/icons/DockIconNotification.hpp"
#include "quorvane/icons/DockIconStore.hpp"

namespace quorvane {
namespace {

using docktile::DockTile;
using docktile::DockTilePlugIn;
using docktile::TileSize;

// Records what the module asks of it; runs scheduled work from the default main context.
class FakeTile final : public DockTile {
public:
    explicit FakeTile(TileSize size)
        : size_(size)
    {
    }
    ~FakeTile() override
    {
        if (content_)
            g_object_unref(content_);
    }

    TileSize size() const override { return size_; }
    void setContentImage(GdkPixbuf* image) override
    {
        events.push_back(image ? "content" : "none");
        if (content_)
            g_object_unref(content_);
        content_ = image ? GDK_PIXBUF(g_object_ref(image)) : nullptr;
    }
    void display() override { events.push_back("display"); }
    void runOnMainLoop(std::function<void()> work) override
    {
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(work)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    }

    std::optional<Image> content() const { return content_ ? std::optional(Image::retain(content_)) : std::nullopt; }
    int displays() const { return static_cast<int>(std::count(events.begin(), events.end(), "display")); }

    std::vector<std::string> events;

private:
    TileSize size_;
    GdkPixbuf* content_ = nullptr;
};

class DockTileModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module_ = g_module_open(QUORVANE_DOCKTILE_MODULE, G_MODULE_BIND_LOCAL);
        ASSERT_NE(module_, nullptr) << g_module_error();
        gpointer symbol = nullptr;
        ASSERT_TRUE(g_module_symbol(module_, docktile::createDockTilePlugInSymbol, &symbol)) << g_module_error();
        create_ = reinterpret_cast<docktile::CreateDockTilePlugIn>(symbol);

        // The signal comes from a connection of its own, as it would from the application's
        // process; the sentinel after it tells when everything before it has arrived.
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        ASSERT_NE(address, nullptr) << error->message;
        sender_ = g_dbus_connection_new_for_address_sync(address,
            static_cast<GDBusConnectionFlags>(
                G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_free(address);
        ASSERT_NE(sender_, nullptr) << error->message;
        receiver_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        ASSERT_NE(receiver_, nullptr) << error->message;
        g_dbus_connection_signal_subscribe(
            receiver_, nullptr, "local.vemir.quorvane.Test", "Sentinel", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer) {
                ++sentinels_;
            },
            nullptr, nullptr);
    }

    void SetUp() override
    {
        ASSERT_NE(create_, nullptr);
        std::filesystem::remove_all(*userDataHome());
    }

    std::unique_ptr<DockTilePlugIn> newPlugIn() { return std::unique_ptr<DockTilePlugIn>(create_()); }

    static void saveIcon(const std::optional<Image>& image) { DockIconStore::save(image, dockicon::iconFilePath()); }

    // Posts the change signal as the application does, then waits until the bus has
    // delivered it and everything it scheduled has run.
    static void postAndSettle()
    {
        // The module subscribes on the process's shared bus connection (receiver_), and the
        // bus must have taken its match rule before the signal is sent from another connection.
        // The daemon handles one connection's messages in order, so a round trip on that
        // connection tells that every subscription made before it is in place.
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(receiver_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        ASSERT_NE(reply, nullptr) << error->message;
        g_variant_unref(reply);
        ASSERT_TRUE(postDockIconChanged(sender_));
        settle();
    }
    static void settle()
    {
        const int expected = sentinels_ + 1;
        GError* error = nullptr;
        ASSERT_TRUE(g_dbus_connection_emit_signal(
            sender_, nullptr, "/local/vemir/quorvane/Test", "local.vemir.quorvane.Test", "Sentinel", nullptr, &error));
        ASSERT_TRUE(g_dbus_connection_flush_sync(sender_, nullptr, &error));
        // A guard against hanging, not a measure of speed.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sentinels_ < expected && std::chrono::steady_clock::now() < giveUp)
            g_main_context_iteration(nullptr, FALSE);
        ASSERT_EQ(sentinels_, expected) << "the bus did not deliver the sentinel";
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }

    static inline GModule* module_ = nullptr;
    static inline docktile::CreateDockTilePlugIn create_ = nullptr;
    static inline GDBusConnection* sender_ = nullptr;
    static inline GDBusConnection* receiver_ = nullptr;
    static inline int sentinels_ = 0;

    const Image wideRed_ = icontest::pictureWith(200, 100, { 0, 0, 200, 100 }, { 255, 0, 0, 255 });
    const Image blue_ = icontest::pictureWith(64, 64, { 0, 0, 64, 64 }, { 0, 0, 255, 255 });
};

TEST_F(DockTileModuleTest, ShowsTheSavedIconFittedToTheTileWhenHandedATile)
{
    saveIcon(wideRed_);
    auto plugIn = newPlugIn();
    auto tile = std::make_shared<FakeTile>(TileSize { 128, 128 });
    plugIn->setDockTile(tile);

    EXPECT_EQ(tile->events, (std::vector<std::string> { "content", "display" }));
    const auto content = tile->content();
    ASSERT_TRUE(content.has_value());
    ASSERT_EQ(content->width(), 128);
    ASSERT_EQ(content->height(), 128);
    // 200×100 fitted into 128×128: 128×64, centred.
    EXPECT_EQ(icontest::pixelAt(*content, 64, 20).alpha, 0);
    EXPECT_EQ(icontest::pixelAt(*content, 0, 33), (icontest::RGBA { 255, 0, 0, 255 }));
    EXPECT_EQ(icontest::pixelAt(*content, 127, 94), (icontest::RGBA { 255, 0, 0, 255 }));
    EXPECT_EQ(icontest::pixelAt(*content, 64, 108).alpha, 0);
}

TEST_F(DockTileModuleTest, ShowsNoCustomContentWithoutAReadableFile)
{
    struct Case {
        const char* name;
        const char* fileContents;  // nullptr: no file
    };
    for (const Case& c : { Case { "no file", nullptr }, Case { "not a PNG", "not a picture" }, Case { "empty", "" } }) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(*userDataHome());
        if (c.fileContents) {
            std::filesystem::create_directories(dockicon::iconFilePath().parent_path());
            std::ofstream(dockicon::iconFilePath()) << c.fileContents;
        }
        auto plugIn = newPlugIn();
        auto tile = std::make_shared<FakeTile>(TileSize { 64, 64 });
        plugIn->setDockTile(tile);
        EXPECT_EQ(tile->events, (std::vector<std::string> { "none", "display" }));
    }
}

TEST_F(DockTileModuleTest, FollowsTheChangeSignal)
{
    saveIcon(wideRed_);
    auto plugIn = newPlugIn();
    auto tile = std::make_shared<FakeTile>(TileSize { 64, 64 });
    plugIn->setDockTile(tile);

    saveIcon(blue_);
    postAndSettle();
    ASSERT_EQ(tile->displays(), 2);
    ASSERT_TRUE(tile->content().has_value());
    EXPECT_EQ(icontest::pixelAt(*tile->content(), 2, 2), (icontest::RGBA { 0, 0, 255, 255 }));

    // Clearing the icon removes the file; the tile falls back to the application's icon.
    saveIcon(std::nullopt);
    postAndSettle();
    EXPECT_EQ(
        tile->events, (std::vector<std::string> { "content", "display", "content", "display", "none", "display" }));
}

TEST_F(DockTileModuleTest, FollowsTheSignalOnceHoweverOftenTheTileIsHandedOver)
{
    saveIcon(blue_);
    auto plugIn = newPlugIn();
    auto first = std::make_shared<FakeTile>(TileSize { 32, 32 });
    for (int i = 0; i < 3; ++i)
        plugIn->setDockTile(first);
    ASSERT_EQ(first->displays(), 3);
    postAndSettle();
    EXPECT_EQ(first->displays(), 4);

    // A new tile replaces the old one: only the new one follows the signal, once.
    auto second = std::make_shared<FakeTile>(TileSize { 32, 32 });
    plugIn->setDockTile(second);
    postAndSettle();
    EXPECT_EQ(first->displays(), 4);
    EXPECT_EQ(second->displays(), 2);

    // No tile: nothing follows the signal any more.
    plugIn->setDockTile(nullptr);
    postAndSettle();
    EXPECT_EQ(second->displays(), 2);
}

TEST_F(DockTileModuleTest, ASignalBeforeAnyTileDoesNothing)
{
    saveIcon(blue_);
    auto plugIn = newPlugIn();
    postAndSettle();
    plugIn->iconChanged();
    plugIn->refreshIcon();
    settle();

    auto tile = std::make_shared<FakeTile>(TileSize { 32, 32 });
    plugIn->setDockTile(tile);
    settle();
    EXPECT_EQ(tile->events, (std::vector<std::string> { "content", "display" }));
}

TEST_F(DockTileModuleTest, AnEndedPlugInNeitherFollowsTheSignalNorRunsWorkStillQueued)
{
    saveIcon(blue_);
    auto plugIn = newPlugIn();
    auto tile = std::make_shared<FakeTile>(TileSize { 32, 32 });
    plugIn->setDockTile(tile);
    plugIn->iconChanged();  // schedules a refresh on the main loop
    plugIn.reset();  // …and the plug-in ends before it runs

    postAndSettle();
    EXPECT_EQ(tile->events, (std::vector<std::string> { "content", "display" }));
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        std::fprintf(stderr, "These tests need a session bus of their own: run them under dbus-run-session.\n");
        return 1;
    }
    // A data home of the test's own, set before any thread starts, read by both the module
    // and the application code through the shared contract.
    gchar* dataHome = g_dir_make_tmp("quorvane-docktile-XXXXXX", nullptr);
    g_setenv("XDG_DATA_HOME", dataHome, TRUE);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(dataHome);
    g_free(dataHome);
    return result;
}
