// The appcast driver against a real https feed: a SoupServer in this process, with a certificate
// made for this test run only. The client trusts that certificate through the driver's
// trustedCertificates option; certificate checks stay on.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include "HttpsTestSupport.hpp"
#include "quorvane/updates/AppUpdater.hpp"
#include "quorvane/updates/AppcastUpdateDriver.hpp"

namespace quorvane {
namespace {

constexpr const char* validKey = "WlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlo=";

std::string appcast(const std::string& items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel><title>Quorvane</title>)"
        + items + "</channel></rss>";
}

const std::string newerFeed = appcast(R"(
    <item><sparkle:version>0.1.0</sparkle:version></item>
    <item><sparkle:version>0.2.0</sparkle:version><sparkle:shortVersionString>0.2</sparkle:shortVersionString>
      <link>https://updates.example/releases/0.2</link></item>)");
const std::string criticalFeed = appcast(R"(
    <item><sparkle:version>0.3.0</sparkle:version><sparkle:criticalUpdate/></item>)");
const std::string sameFeed = appcast("<item><sparkle:version>0.1.0</sparkle:version></item>");

struct Response {
    guint status = 200;
    std::string body;
    std::string location;
    bool hold = false;  // keep the request open until the client goes away
};

Response ok(std::string body) { return Response { 200, std::move(body), "", false }; }
Response failing(guint status) { return Response { status, "", "", false }; }
Response redirect(std::string location) { return Response { 302, "", std::move(location), false }; }
Response held() { return Response { 200, "", "", true }; }

// Records what a driver reports, in order.
class RecordingDelegate final : public UpdaterDelegate, public UserDriverDelegate {
public:
    void didFinishUpdateCycle(UpdateCheck check, const std::optional<UpdateError>& error) override
    {
        events.push_back(std::string(check == UpdateCheck::updates ? "user" : "background") + " cycle "
            + (error ? std::to_string(error->code) : "ok"));
        lastError = error;
    }
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    bool shouldHandleShowingScheduledUpdate(const UpdateItem& update, bool) override { return update.critical; }
    void willHandleShowingUpdate(bool handleShowing, const UpdateItem& update, const UserUpdateState& state) override
    {
        events.push_back(std::string(state.userInitiated ? "user" : "background") + " show " + update.displayVersion
            + (handleShowing ? " now" : " gently"));
    }
    void willFinishUpdateSession() override { events.push_back("session end"); }

    std::vector<std::string> events;
    std::optional<UpdateError> lastError;
};

class HttpsFeedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GError* error = nullptr;
        gchar* dir = g_dir_make_tmp("quorvane-feed-XXXXXX", &error);
        ASSERT_NE(dir, nullptr) << (error ? error->message : "");
        directory = dir;
        g_free(dir);
        certificate = directory / "feed-cert.pem";
        otherCertificate = directory / "other-cert.pem";
        ASSERT_NO_FATAL_FAILURE(
            testing::makeTestCertificate(QUORVANE_OPENSSL, certificate, directory / "feed-key.pem"));
        ASSERT_NO_FATAL_FAILURE(
            testing::makeTestCertificate(QUORVANE_OPENSSL, otherCertificate, directory / "other-key.pem"));

        GTlsCertificate* tls
            = g_tls_certificate_new_from_files(certificate.c_str(), (directory / "feed-key.pem").c_str(), &error);
        ASSERT_NE(tls, nullptr) << (error ? error->message : "");
        server = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", tls, nullptr));
        g_object_unref(tls);
        soup_server_add_handler(server, nullptr, handle, this, nullptr);
        ASSERT_TRUE(soup_server_listen_local(
            server, 0, SoupServerListenOptions(SOUP_SERVER_LISTEN_HTTPS | SOUP_SERVER_LISTEN_IPV4_ONLY), &error))
            << (error ? error->message : "");
        ASSERT_TRUE(soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error))
            << (error ? error->message : "");
        GSList* uris = soup_server_get_uris(server);
        for (GSList* each = uris; each; each = each->next) {
            auto* uri = static_cast<GUri*>(each->data);
            std::string base
                = std::string(g_uri_get_scheme(uri)) + "://127.0.0.1:" + std::to_string(g_uri_get_port(uri));
            (std::string_view(g_uri_get_scheme(uri)) == "https" ? httpsBase : httpBase) = base;
        }
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        ASSERT_FALSE(httpsBase.empty());
        ASSERT_FALSE(httpBase.empty());
    }

    void TearDown() override
    {
        if (server) {
            soup_server_disconnect(server);
            g_object_unref(server);
        }
        drain();
        std::filesystem::remove_all(directory);
    }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data)
    {
        auto* self = static_cast<HttpsFeedTest*>(data);
        self->requests.push_back(path);
        auto found = self->responses.find(path);
        if (found == self->responses.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            return;
        }
        const Response& response = found->second;
        if (response.hold) {
            soup_server_message_pause(message);
            return;
        }
        soup_server_message_set_status(message, response.status, nullptr);
        if (!response.location.empty())
            soup_message_headers_replace(
                soup_server_message_get_response_headers(message), "Location", response.location.c_str());
        soup_server_message_set_response(
            message, "application/rss+xml", SOUP_MEMORY_COPY, response.body.data(), response.body.size());
    }

    static void drain()
    {
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }

    // Runs the main loop until the condition holds; a guard ends the wait if it never does.
    static bool runUntil(const std::function<bool()>& condition) { return testing::runMainLoopUntil(condition); }

    AppBundle bundle(const std::string& path, const char* version = "0.1.0", bool automatic = false) const
    {
        return AppBundle { boost::json::object {
            { "CFBundleShortVersionString", version },
            { "SUFeedURL", httpsBase + path },
            { "SUPublicEDKey", validKey },
            { "SUEnableAutomaticChecks", automatic },
        } };
    }

    std::shared_ptr<UpdateDriver> trustingDriver() const
    {
        return std::make_shared<AppcastUpdateDriver>(AppcastUpdateDriverOptions { certificate });
    }

    // Starts an AppUpdater on the feed, runs one user check and returns the settled state.
    AppUpdateState checkOnce(const std::string& path, std::shared_ptr<UpdateDriver> driver)
    {
        AppUpdater updater(std::move(driver));
        std::vector<AppUpdateState> published;
        updater.onChange = [&](const AppUpdateState& state) { published.push_back(state); };
        updater.start(bundle(path));
        EXPECT_TRUE(updater.currentState().configured);
        EXPECT_TRUE(runUntil([&] { return !published.empty() && published.back().canCheck; }));
        updater.checkForUpdates();
        EXPECT_EQ(updater.currentState().status, "checking");
        EXPECT_TRUE(runUntil([&] { return published.back().status != "checking" && published.back().canCheck; }));
        return published.back();
    }

    std::filesystem::path directory;
    std::filesystem::path certificate;
    std::filesystem::path otherCertificate;
    SoupServer* server = nullptr;
    std::string httpsBase;
    std::string httpBase;
    std::map<std::string, Response> responses;
    std::vector<std::string> requests;
};

TEST_F(HttpsFeedTest, UserCheckReportsTheFeedsAnswer)
{
    responses["/newer.xml"] = ok(newerFeed);
    responses["/same.xml"] = ok(sameFeed);
    responses["/broken.xml"] = ok(sameFeed.substr(0, sameFeed.size() / 2));
    responses["/page.html"] = ok("<html><body>Releases</body></html>");
    responses["/server-error.xml"] = failing(500);
    responses["/moved.xml"] = redirect(httpsBase + "/newer.xml");
    responses["/downgraded.xml"] = redirect(httpBase + "/newer.xml");

    struct Case {
        const char* name;
        std::string path;
        std::shared_ptr<UpdateDriver> driver;
        const char* status;
        std::optional<Text> availableVersion;
    };
    const std::vector<Case> cases = {
        { "newer version", "/newer.xml", trustingDriver(), "available", Text("0.2") },
        { "same version", "/same.xml", trustingDriver(), "current", std::nullopt },
        { "broken feed", "/broken.xml", trustingDriver(), "error", std::nullopt },
        { "not a feed", "/page.html", trustingDriver(), "error", std::nullopt },
        { "missing feed", "/missing.xml", trustingDriver(), "error", std::nullopt },
        { "server error", "/server-error.xml", trustingDriver(), "error", std::nullopt },
        { "redirect within https", "/moved.xml", trustingDriver(), "available", Text("0.2") },
        { "redirect to http", "/downgraded.xml", trustingDriver(), "error", std::nullopt },
        { "certificate not trusted", "/newer.xml", std::make_shared<AppcastUpdateDriver>(), "error", std::nullopt },
        { "another certificate trusted", "/newer.xml",
            std::make_shared<AppcastUpdateDriver>(AppcastUpdateDriverOptions { otherCertificate }), "error",
            std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppUpdateState state = checkOnce(c.path, c.driver);
        EXPECT_EQ(state.status, c.status);
        EXPECT_EQ(state.availableVersion, c.availableVersion);
        EXPECT_TRUE(state.configured);
        EXPECT_EQ(state.version, "0.1.0");
    }
}

TEST_F(HttpsFeedTest, AnOfferedUpdateStaysUntilACheckFindsNothingNewer)
{
    responses["/feed.xml"] = ok(newerFeed);
    auto delegate = std::make_shared<RecordingDelegate>();
    auto controller = trustingDriver()->makeController(bundle("/feed.xml"), delegate, delegate);
    ASSERT_EQ(controller->startUpdater(), std::nullopt);
    Updater& updater = controller->updater();
    ASSERT_TRUE(updater.canCheckForUpdates());
    ASSERT_FALSE(updater.automaticallyChecksForUpdates());

    std::vector<bool> canCheck;
    Observation observation = updater.observeCanCheckForUpdates([&](bool value) { canCheck.push_back(value); });
    controller->checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());  // one fetch at a time
    controller->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(canCheck, (std::vector<bool> { true, false, true }));

    controller->checkForUpdates();  // the same update again
    ASSERT_TRUE(runUntil([&] { return delegate->events.size() == 2; }));
    responses["/feed.xml"] = ok(sameFeed);
    controller->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return delegate->events.size() == 4; }));
    EXPECT_EQ(delegate->events,
        (std::vector<std::string> { "user show 0.2 now", "user show 0.2 now", "session end", "user cycle 1001" }));

    responses["/feed.xml"] = ok("<rss>");
    controller->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return delegate->events.size() == 5; }));
    EXPECT_EQ(delegate->events.back(), "user cycle 1000");
    ASSERT_TRUE(delegate->lastError);
    EXPECT_EQ(delegate->lastError->domain, UpdateError::domainName);
    EXPECT_EQ(delegate->lastError->message.substr(0, 40), "The update feed is not well-formed XML: ");
}

TEST_F(HttpsFeedTest, ReadsFeedsUpToOneMegabyte)
{
    const std::size_t limit = 1024 * 1024;
    std::string padded = newerFeed + "<!--" + std::string(limit - newerFeed.size() - 7, '-') + "-->";
    ASSERT_EQ(padded.size(), limit);
    struct Case {
        const char* name;
        std::string body;
        std::string event;
        std::string message;
    };
    const std::vector<Case> cases = {
        { "exactly at the limit", padded, "user show 0.2 now", "" },
        { "one byte more", padded + "\n", "user cycle 1002", "The update feed is larger than 1 MB." },
        { "endless", std::string(8 * limit, ' '), "user cycle 1002", "The update feed is larger than 1 MB." },
        { "server error", "", "user cycle 1002", "The update feed answered with HTTP status 500." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        responses["/feed.xml"] = c.body.empty() ? failing(500) : ok(c.body);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto controller = trustingDriver()->makeController(bundle("/feed.xml"), delegate, delegate);
        ASSERT_EQ(controller->startUpdater(), std::nullopt);
        controller->checkForUpdates();
        ASSERT_TRUE(runUntil([&] { return !delegate->events.empty(); }));
        EXPECT_EQ(delegate->events, std::vector<std::string> { c.event });
        EXPECT_EQ(delegate->lastError ? delegate->lastError->message : "", c.message);
        EXPECT_TRUE(controller->updater().canCheckForUpdates());
    }
}

TEST_F(HttpsFeedTest, AutomaticChecksRunAtStartAndShowOnlyCriticalUpdatesAtOnce)
{
    struct Case {
        const char* name;
        std::string body;
        std::string event;
    };
    const std::vector<Case> cases = {
        { "critical update", criticalFeed, "background show 0.3.0 now" },
        { "ordinary update", newerFeed, "background show 0.2 gently" },
        { "nothing newer", sameFeed, "background cycle 1001" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        responses["/auto.xml"] = ok(c.body);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto controller = trustingDriver()->makeController(bundle("/auto.xml", "0.1.0", true), delegate, delegate);
        EXPECT_TRUE(controller->updater().automaticallyChecksForUpdates());
        ASSERT_EQ(controller->startUpdater(), std::nullopt);
        EXPECT_TRUE(delegate->events.empty()) << "the launch check runs from the main loop";
        ASSERT_TRUE(runUntil([&] { return !delegate->events.empty(); }));
        EXPECT_EQ(delegate->events, std::vector<std::string> { c.event });
    }

    // Without automatic checks, starting fetches nothing.
    requests.clear();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto controller = trustingDriver()->makeController(bundle("/auto.xml"), delegate, delegate);
    ASSERT_EQ(controller->startUpdater(), std::nullopt);
    drain();
    EXPECT_TRUE(requests.empty());
}

TEST_F(HttpsFeedTest, DroppingTheUpdaterCancelsTheFetchQuietly)
{
    responses["/held.xml"] = held();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto controller = trustingDriver()->makeController(bundle("/held.xml"), delegate, delegate);
    ASSERT_EQ(controller->startUpdater(), std::nullopt);
    controller->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !requests.empty(); }));

    // Cancelling completes the fetch from the main loop; its callback must find nothing to call.
    controller.reset();
    drain();
    EXPECT_TRUE(delegate->events.empty());
}

TEST_F(HttpsFeedTest, DroppingTheAppUpdaterDuringACheckIsSafe)
{
    responses["/held.xml"] = held();
    auto updater = std::make_unique<AppUpdater>(trustingDriver());
    auto calls = std::make_shared<int>(0);
    updater->onChange = [calls](const AppUpdateState&) { ++*calls; };
    updater->start(bundle("/held.xml"));
    drain();
    updater->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !requests.empty(); }));
    int callsBefore = *calls;

    updater.reset();
    drain();
    EXPECT_EQ(*calls, callsBefore);
}

TEST_F(HttpsFeedTest, TheShellMayDropTheUpdaterWhileItIsBeingTold)
{
    // The end of an offered update's session and the end of the cycle are two reports in a row;
    // after the first one drops the updater, the driver must not send the second.
    responses["/feed.xml"] = ok(newerFeed);
    auto updater = std::make_unique<AppUpdater>(trustingDriver());
    std::vector<std::string> statuses;
    updater->onChange = [&](const AppUpdateState& state) {
        statuses.push_back(state.status.str());
        if (state.status == "idle" && statuses.size() > 1 && statuses[statuses.size() - 2] == "available")
            updater.reset();
    };
    updater->start(bundle("/feed.xml"));
    drain();
    updater->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return statuses.back() == "available"; }));
    drain();
    responses["/feed.xml"] = ok(sameFeed);
    updater->checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return updater == nullptr; }));
    drain();
    EXPECT_EQ(statuses.back(), "idle");
}

TEST_F(HttpsFeedTest, UnreadableTrustedCertificatesKeepUpdatesUnavailable)
{
    AppUpdater updater(std::make_shared<AppcastUpdateDriver>(AppcastUpdateDriverOptions { directory / "absent.pem" }));
    updater.start(bundle("/newer.xml"));
    EXPECT_FALSE(updater.currentState().configured);
    EXPECT_EQ(updater.currentState().status, "unavailable");
}

}  // namespace
}  // namespace quorvane
