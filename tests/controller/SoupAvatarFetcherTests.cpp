// The libsoup avatar fetcher against a real https server in this process (a SoupServer with a
// certificate made for this run; certificate checks stay on): statuses, the body limit for
// announced, streamed and endless bodies, redirects that stay on or leave the allowed hosts,
// the deadline, and cancellation.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include "HttpsTestSupport.hpp"
#include "quorvane/async/TaskScope.hpp"
#include "quorvane/controller/SoupAvatarFetcher.hpp"

namespace quorvane {
namespace {

constexpr std::size_t kLimit = 100'000;

struct Response {
    guint status = 200;
    std::string body;
    std::string location;
    enum class Mode { whole, chunked, endless, held } mode = Mode::whole;
};

Response whole(guint status, std::string body) { return { status, std::move(body), "", Response::Mode::whole }; }
Response redirect(guint status, std::string location)
{
    return { status, "", std::move(location), Response::Mode::whole };
}
Response chunked(std::string body) { return { 200, std::move(body), "", Response::Mode::chunked }; }
Response endless() { return { 200, "start", "", Response::Mode::endless }; }
Response held() { return { 200, "", "", Response::Mode::held }; }

class SoupAvatarFetcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GError* error = nullptr;
        gchar* dir = g_dir_make_tmp("quorvane-avatar-XXXXXX", &error);
        ASSERT_NE(dir, nullptr) << (error ? error->message : "");
        directory = dir;
        g_free(dir);
        certificate = directory / "cert.pem";
        ASSERT_NO_FATAL_FAILURE(testing::makeTestCertificate(QUORVANE_OPENSSL, certificate, directory / "key.pem"));
        GTlsCertificate* tls
            = g_tls_certificate_new_from_files(certificate.c_str(), (directory / "key.pem").c_str(), &error);
        ASSERT_NE(tls, nullptr) << (error ? error->message : "");
        server = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", tls, nullptr));
        g_object_unref(tls);
        soup_server_add_handler(server, nullptr, handle, this, nullptr);
        ASSERT_TRUE(soup_server_listen_local(
            server, 0, SoupServerListenOptions(SOUP_SERVER_LISTEN_HTTPS | SOUP_SERVER_LISTEN_IPV4_ONLY), &error))
            << (error ? error->message : "");
        GSList* uris = soup_server_get_uris(server);
        base = "https://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }

    void TearDown() override
    {
        scope.reset();
        fetcher.reset();
        if (server) {
            soup_server_disconnect(server);
            g_object_unref(server);
        }
        while (g_main_context_iteration(nullptr, FALSE)) { }
        std::filesystem::remove_all(directory);
    }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data)
    {
        auto* self = static_cast<SoupAvatarFetcherTest*>(data);
        self->requests.push_back(path);
        auto found = self->responses.find(path);
        if (found == self->responses.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            return;
        }
        const Response& response = found->second;
        auto* headers = soup_server_message_get_response_headers(message);
        switch (response.mode) {
        case Response::Mode::held:
            soup_server_message_pause(message);
            return;
        case Response::Mode::whole:
            soup_server_message_set_status(message, response.status, nullptr);
            if (!response.location.empty())
                soup_message_headers_replace(headers, "Location", response.location.c_str());
            soup_server_message_set_response(
                message, "image/png", SOUP_MEMORY_COPY, response.body.data(), response.body.size());
            return;
        case Response::Mode::chunked:
        case Response::Mode::endless:
            soup_server_message_set_status(message, 200, nullptr);
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
            auto* body = soup_server_message_get_response_body(message);
            soup_message_body_append(body, SOUP_MEMORY_COPY, response.body.data(), response.body.size());
            if (response.mode == Response::Mode::chunked) {
                soup_message_body_complete(body);
                return;
            }
            // Another piece each time one is written: the body never ends.
            g_signal_connect(message, "wrote-chunk", G_CALLBACK(+[](SoupServerMessage* m, gpointer) {
                static const std::string piece(16 * 1024, 'x');
                soup_message_body_append(
                    soup_server_message_get_response_body(m), SOUP_MEMORY_COPY, piece.data(), piece.size());
            }),
                nullptr);
            return;
        }
    }

    SoupAvatarFetcher& makeFetcher(double timeout = 5)
    {
        fetcher = std::make_unique<SoupAvatarFetcher>(SoupAvatarFetcherOptions {
            .allowed =
                [this](std::string_view url) {
                    return url.starts_with(base) && url.find("/foreign") == std::string_view::npos;
                },
            .trustedCertificate = certificate,
            .timeoutSeconds = timeout,
            .bodyLimit = kLimit,
        });
        return *fetcher;
    }

    struct Outcome {
        std::optional<AvatarResponse> response;
        std::string error;
        bool cancelled = false;
        bool done = false;
    };

    // Starts a fetch; `during` runs once the request reached the server.
    Outcome fetch(const std::string& path, const std::function<void(TaskHandle&)>& during = {})
    {
        Outcome outcome;
        TaskHandle task = scope->spawn([](SoupAvatarFetcher& fetcher, std::string url, Outcome& out) -> Task<void> {
            try {
                out.response = co_await fetcher.fetch(url);
            } catch (const TaskCancelled&) {
                out.cancelled = true;
            } catch (const std::exception& error) {
                out.error = error.what();
            }
            out.done = true;
        }(*fetcher, base + path, outcome));
        if (during) {
            std::size_t before = requests.size();
            runUntil([&] { return requests.size() > before || outcome.done; });
            during(task);
        }
        EXPECT_TRUE(runUntil([&] { return outcome.done; })) << "the fetch did not end";
        return outcome;
    }

    static bool runUntil(const std::function<bool()>& condition) { return testing::runMainLoopUntil(condition); }

    std::filesystem::path directory;
    std::filesystem::path certificate;
    SoupServer* server = nullptr;
    std::string base;
    std::map<std::string, Response> responses;
    std::vector<std::string> requests;
    std::unique_ptr<SoupAvatarFetcher> fetcher;
    std::unique_ptr<TaskScope> scope = std::make_unique<TaskScope>();
};

TEST_F(SoupAvatarFetcherTest, StatusesAndBodies)
{
    const std::string picture(5000, 'p');
    const std::string justUnder(kLimit - 1, 'u');
    struct Case {
        const char* name;
        Response response;
        std::optional<unsigned> status;  // absent: the fetch fails
        std::string body;
    };
    const std::vector<Case> cases = {
        { "picture", whole(200, picture), 200, picture },
        { "not found", whole(404, "Not here"), 404, "" },
        { "server error", whole(500, "Oops"), 500, "" },
        { "body one byte under the limit", whole(200, justUnder), 200, justUnder },
        { "body at the limit", whole(200, std::string(kLimit, 'a')), std::nullopt, "" },
        { "streamed body under the limit", chunked(picture), 200, picture },
        { "streamed body over the limit", chunked(std::string(kLimit + 10, 'c')), std::nullopt, "" },
        { "endless body", endless(), std::nullopt, "" },
    };
    makeFetcher();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        responses = { { "/avatar.png", c.response } };
        Outcome outcome = fetch("/avatar.png");
        if (!c.status) {
            EXPECT_FALSE(outcome.response);
            EXPECT_EQ(outcome.error, "The avatar is too large.");
            continue;
        }
        ASSERT_TRUE(outcome.response) << outcome.error;
        EXPECT_EQ(outcome.response->status, *c.status);
        EXPECT_EQ(std::string(outcome.response->body.begin(), outcome.response->body.end()), c.body);
    }
}

TEST_F(SoupAvatarFetcherTest, RedirectsStayOnAllowedHosts)
{
    const std::string picture(300, 'r');
    responses = {
        { "/moved.png", redirect(302, "/avatar.png") },
        { "/avatar.png", whole(200, picture) },
        { "/away.png", redirect(301, "/foreign/avatar.png") },
        { "/foreign/avatar.png", whole(200, picture) },
        { "/loop.png", redirect(302, "/loop.png") },
    };
    makeFetcher();

    Outcome followed = fetch("/moved.png");
    ASSERT_TRUE(followed.response) << followed.error;
    EXPECT_EQ(followed.response->status, 200u);
    EXPECT_EQ(followed.response->body.size(), picture.size());

    requests.clear();
    Outcome refused = fetch("/away.png");
    EXPECT_FALSE(refused.response);
    EXPECT_EQ(refused.error, "The avatar address is not on a Dot host.");
    EXPECT_EQ(requests, std::vector<std::string> { "/away.png" }) << "the foreign address is never asked";

    requests.clear();
    Outcome looping = fetch("/loop.png");
    ASSERT_TRUE(looping.response) << looping.error;
    EXPECT_EQ(looping.response->status, 302u);
    EXPECT_EQ(requests.size(), 4u) << "the first request and three redirects";
}

TEST_F(SoupAvatarFetcherTest, StalledServerEndsAtTheDeadline)
{
    responses = { { "/slow.png", held() } };
    makeFetcher(1);
    gint64 started = g_get_monotonic_time();
    Outcome outcome = fetch("/slow.png");
    double seconds = double(g_get_monotonic_time() - started) / G_USEC_PER_SEC;
    EXPECT_FALSE(outcome.response);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_LT(seconds, 4);
}

TEST_F(SoupAvatarFetcherTest, CancellingEndsTheFetchAtOnce)
{
    responses = { { "/slow.png", held() } };
    makeFetcher();
    Outcome outcome = fetch("/slow.png", [](TaskHandle& task) { task.cancel(); });
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.response);
}

}  // namespace
}  // namespace quorvane
