#include "quorvane/controller/SoupAvatarFetcher.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include <gio/gio.h>
#include <libsoup/soup.h>

#include "quorvane/async/AsyncCall.hpp"
#include "quorvane/async/GLibError.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

namespace {

constexpr int kMostRedirects = 3;
constexpr gsize kReadSize = 64 * 1024;

struct BytesDeleter {
    void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
using BytesPtr = std::unique_ptr<GBytes, BytesDeleter>;

// Cancels `deadline` when the time is up; the fetch's awaits take it as their lifetime, so
// whatever the fetch is waiting for then ends with G_IO_ERROR_CANCELLED.
GSourceHolder startDeadline(GCancellable* deadline, double seconds)
{
    GSource* source = g_timeout_source_new(static_cast<guint>(std::ceil(std::max(seconds, 0.0) * 1000)));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            g_cancellable_cancel(G_CANCELLABLE(data));
            return G_SOURCE_REMOVE;
        },
        g_object_ref(deadline), g_object_unref);
    g_source_attach(source, g_main_context_get_thread_default());
    return GSourceHolder(source);
}

std::string resolved(SoupMessage* message, const char* location)
{
    GErrorHolder error;
    GUri* next = g_uri_parse_relative(soup_message_get_uri(message), location, G_URI_FLAGS_NONE, error.out());
    if (!next)
        throw std::runtime_error("The avatar was redirected to an address that cannot be read.");
    GCharPtr text(g_uri_to_string(next));
    g_uri_unref(next);
    return text.get();
}

}  // namespace

SoupAvatarFetcher::SoupAvatarFetcher(SoupAvatarFetcherOptions options)
    : options_(std::move(options))
{
    // The per-read time-out of the session backs up the deadline of the whole fetch.
    const auto seconds = static_cast<guint>(std::ceil(options_.timeoutSeconds));
    session_ = GObjectPtr<SoupSession>::adopt(
        soup_session_new_with_options("timeout", seconds, "idle-timeout", seconds, "user-agent", "Quorvane", nullptr));
    if (options_.trustedCertificate) {
        GErrorHolder error;
        auto database = GObjectPtr<GTlsDatabase>::adopt(
            g_tls_file_database_new(options_.trustedCertificate->c_str(), error.out()));
        if (!database)
            throw std::runtime_error("The trusted certificate for avatars cannot be loaded: "
                + std::string(error ? error.get()->message : "unknown error"));
        soup_session_set_tls_database(session_.get(), database.get());
    }
}

SoupAvatarFetcher::~SoupAvatarFetcher() = default;

Task<AvatarResponse> SoupAvatarFetcher::fetch(std::string url)
{
    auto deadline = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    GSourceHolder timer = startDeadline(deadline.get(), options_.timeoutSeconds);

    std::string address = std::move(url);
    for (int hop = 0;; ++hop) {
        if (options_.allowed && !options_.allowed(address))
            throw std::runtime_error("The avatar address is not on a Dot host.");
        auto message = GObjectPtr<SoupMessage>::adopt(soup_message_new("GET", address.c_str()));
        if (!message)
            throw std::runtime_error("The avatar address cannot be requested.");
        soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
        SoupMessage* request = message.get();
        SoupSession* session = session_.get();

        auto body = co_await asyncCall<GObjectPtr<GInputStream>>(
            [session, request](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
                soup_session_send_async(session, request, G_PRIORITY_DEFAULT, cancellable, ready, data);
            },
            [](GObject* source, GAsyncResult* result) {
                GError* error = nullptr;
                GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
                if (!stream)
                    GLibError::raise(error);
                return GObjectPtr<GInputStream>::adopt(stream);
            },
            deadline.get());

        const unsigned status = soup_message_get_status(request);
        SoupMessageHeaders* headers = soup_message_get_response_headers(request);
        if (SOUP_STATUS_IS_REDIRECTION(status)) {
            const char* location = soup_message_headers_get_one(headers, "Location");
            if (!location || hop == kMostRedirects)
                co_return AvatarResponse { status, {} };
            address = resolved(request, location);
            continue;
        }
        if (status != SOUP_STATUS_OK)
            co_return AvatarResponse { status, {} };

        const goffset announced = soup_message_headers_get_content_length(headers);
        if (announced > 0 && static_cast<std::size_t>(announced) >= options_.bodyLimit)
            throw std::runtime_error("The avatar is too large.");
        AvatarResponse response { status, {} };
        GInputStream* stream = body.get();
        for (;;) {
            BytesPtr piece = co_await asyncCall<BytesPtr>(
                [stream](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
                    g_input_stream_read_bytes_async(stream, kReadSize, G_PRIORITY_DEFAULT, cancellable, ready, data);
                },
                [](GObject* source, GAsyncResult* result) {
                    GError* error = nullptr;
                    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
                    if (!bytes)
                        GLibError::raise(error);
                    return BytesPtr(bytes);
                },
                deadline.get());
            gsize size = 0;
            const auto* data = static_cast<const std::uint8_t*>(g_bytes_get_data(piece.get(), &size));
            if (size == 0)
                break;
            if (response.body.size() + size >= options_.bodyLimit)
                throw std::runtime_error("The avatar is too large.");
            response.body.insert(response.body.end(), data, data + size);
        }
        co_return response;
    }
}

}  // namespace quorvane
