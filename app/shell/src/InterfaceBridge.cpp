#include "quorvane/shell/InterfaceBridge.hpp"

#include <boost/json/parse.hpp>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/BridgeScripts.hpp"

namespace quorvane {

struct InterfaceBridge::State {
    GObjectPtr<WebKitUserContentManager> manager;
    std::filesystem::path indexFile;
    std::function<void(PageMessage)> onMessage;
    gulong handler = 0;
};

namespace {

void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data)
{
    auto state = lockWeakData<InterfaceBridge::State>(data);
    if (!state || !state->onMessage || !value || !jsc_value_is_string(value))
        return;
    GCharPtr text(jsc_value_to_string(value));
    if (!text)
        return;
    auto message = InterfaceBridge::parse(text.get(), state->indexFile);
    if (!message)
        return;
    auto onMessage = state->onMessage;  // the handler may replace the bridge
    onMessage(std::move(*message));
}

}  // namespace

InterfaceBridge::InterfaceBridge(
    WebKitUserContentManager* manager, std::filesystem::path indexFile, std::function<void(PageMessage)> onMessage)
    : state_(std::make_shared<State>())
{
    state_->manager = GObjectPtr<WebKitUserContentManager>::retain(manager);
    state_->indexFile = std::move(indexFile);
    state_->onMessage = std::move(onMessage);
    webkit_user_content_manager_register_script_message_handler(manager, kHandler, kWorld);
    state_->handler = g_signal_connect_data(manager, "script-message-received::quorvane", G_CALLBACK(onScriptMessage),
        newWeakData(state_), &deleteWeakClosureData<State>, GConnectFlags(0));
    WebKitUserScript* relay = webkit_user_script_new_for_world(bridge_scripts::relay,
        WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, relay);
    webkit_user_script_unref(relay);
}

InterfaceBridge::~InterfaceBridge()
{
    g_signal_handler_disconnect(state_->manager.get(), state_->handler);
    webkit_user_content_manager_unregister_script_message_handler(state_->manager.get(), kHandler, kWorld);
    state_->onMessage = nullptr;
}

bool InterfaceBridge::addressesFile(std::string_view uri, const std::filesystem::path& indexFile)
{
    GErrorHolder error;
    GUri* parsed = g_uri_parse(std::string(uri).c_str(), G_URI_FLAGS_NONE, error.out());
    if (!parsed)
        return false;
    bool matches = false;
    const char* scheme = g_uri_get_scheme(parsed);
    const char* host = g_uri_get_host(parsed);
    const char* path = g_uri_get_path(parsed);  // percent-decoded
    if (scheme && g_ascii_strcasecmp(scheme, "file") == 0 && (!host || !*host || g_strcmp0(host, "localhost") == 0)
        && path && *path == '/') {
        matches = std::filesystem::path(path).lexically_normal() == indexFile.lexically_normal();
    }
    g_uri_unref(parsed);
    return matches;
}

std::optional<PageMessage> InterfaceBridge::parse(std::string_view text, const std::filesystem::path& indexFile)
{
    if (text.size() > kMessageByteLimit)
        return std::nullopt;
    boost::system::error_code error;
    boost::json::value relayed = boost::json::parse(text, error);
    if (error || !relayed.is_object())
        return std::nullopt;
    const auto& envelope = relayed.get_object();
    const auto* href = envelope.if_contains("href");
    const auto* body = envelope.if_contains("message");
    if (!href || !href->is_string() || !body || !body->is_object())
        return std::nullopt;
    if (!addressesFile(href->get_string(), indexFile))
        return std::nullopt;
    const auto& message = body->get_object();
    const auto* id = message.if_contains("id");
    const auto* command = message.if_contains("command");
    if (!id || !id->is_string() || !command || !command->is_string())
        return std::nullopt;
    PageMessage out { std::string(id->get_string()), std::string(command->get_string()), {} };
    if (const auto* data = message.if_contains("data"); data && data->is_object())
        out.data = data->get_object();
    return out;
}

}  // namespace quorvane
