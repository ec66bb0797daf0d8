#include "quorvane/shell/InterfaceBridge.hpp"

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

}  // namespace quorvane
