#pragma once

// For tests that serve https from their own process (a SoupServer) with certificate checks on:
// a certificate for 127.0.0.1 made for this run with the openssl command, and a wait on the
// GLib main loop that gives up after a while.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <glib.h>
#include <gtest/gtest.h>

namespace quorvane::testing {

// A self-signed EC certificate for 127.0.0.1, valid for a day.
inline void makeTestCertificate(
    const std::string& openssl, const std::filesystem::path& cert, const std::filesystem::path& key)
{
    std::vector<std::string> args = { openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
        "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
        "subjectAltName=IP:127.0.0.1", "-keyout", key.string(), "-out", cert.string() };
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    gchar* errors = nullptr;
    gint status = 0;
    GError* error = nullptr;
    ASSERT_TRUE(g_spawn_sync(
        nullptr, argv.data(), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr, nullptr, &errors, &status, &error))
        << (error ? error->message : "");
    std::string output = errors ? errors : "";
    g_free(errors);
    ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr)) << output;
}

// Runs the thread-default main loop until `condition` holds or `seconds` pass; the condition.
inline bool runMainLoopUntil(const std::function<bool()>& condition, guint seconds = 20)
{
    bool expired = false;
    guint guard = g_timeout_add_seconds(
        seconds,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired);
    while (!condition() && !expired)
        g_main_context_iteration(nullptr, TRUE);
    if (!expired)
        g_source_remove(guard);
    return condition();
}

}  // namespace quorvane::testing
