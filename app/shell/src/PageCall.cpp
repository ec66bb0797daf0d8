#include "quorvane/shell/PageCall.hpp"

#include <cstring>
#include <memory>

namespace quorvane {

PageArguments::PageArguments() { g_variant_builder_init(&builder_, G_VARIANT_TYPE_VARDICT); }

PageArguments::~PageArguments()
{
    if (!ended_)
        g_variant_builder_clear(&builder_);
}

PageArguments& PageArguments::add(const char* name, std::string_view text)
{
    // GVariant strings are NUL-terminated UTF-8; the state encoder only writes valid UTF-8,
    // and an embedded NUL is escaped in JSON text, so the text arrives whole.
    g_variant_builder_add(&builder_, "{sv}", name, g_variant_new_take_string(g_strndup(text.data(), text.size())));
    return *this;
}

PageArguments& PageArguments::adopt(const char* name, std::string&& text)
{
    // A GVariant string is its bytes with the terminating NUL, which std::string keeps after
    // its last character.
    auto* owned = new std::string(std::move(text));
    GBytes* bytes = g_bytes_new_with_free_func(
        owned->c_str(), owned->size() + 1, [](gpointer data) { delete static_cast<std::string*>(data); }, owned);
    g_variant_builder_add(&builder_, "{sv}", name, g_variant_new_from_bytes(G_VARIANT_TYPE_STRING, bytes, TRUE));
    g_bytes_unref(bytes);
    return *this;
}

PageArguments& PageArguments::add(const char* name, double value)
{
    g_variant_builder_add(&builder_, "{sv}", name, g_variant_new_double(value));
    return *this;
}

GVariant* PageArguments::end()
{
    ended_ = true;
    return g_variant_builder_end(&builder_);
}

namespace {

void onCallFinished(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PageCallDone> done(static_cast<PageCallDone*>(data));
    GError* error = nullptr;
    PageCallResult outcome;
    outcome.value = GObjectPtr<JSCValue>::adopt(
        webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error));
    if (error) {
        outcome.error = error->message && *error->message ? error->message : "The script failed.";
        g_error_free(error);
    }
    if (*done)
        (*done)(std::move(outcome));
}

}  // namespace

void callInPage(WebKitWebView* view, const char* body, PageArguments& arguments, PageCallDone done, const char* world)
{
    webkit_web_view_call_async_javascript_function(view, body, gssize(std::strlen(body)), arguments.end(), world,
        nullptr, nullptr, &onCallFinished, new PageCallDone(std::move(done)));
}

}  // namespace quorvane
