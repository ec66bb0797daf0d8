#pragma once

// The message bridge from the interface page to the application.
//
// WebKitGTK does not tell a script message handler which frame posted, so the page's word is
// never taken for it. The handler "quorvane" is registered in a script world of the shell's own
// ("local.quorvane.shell"), which page scripts cannot enter, and the only script in that world
// is the relay (web/bridge/relay.js), injected into the top frame only. The relay forwards the
// top frame's own window messages, with the document's address at that moment. Sub-frames,
// about:blank and data: documents therefore have no path here at all, and a document that is
// not the bundle's index.html is dropped by the address check below.
//
// Every relayed text is hostile input and is checked again here (BridgeMessage.hpp): a bounded
// JSON envelope naming the bundle's index.html, with a string id and command. Anything else is
// dropped silently: no reply, no log line.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "quorvane/shell/BridgeMessage.hpp"

namespace quorvane {

class InterfaceBridge {
public:
    static constexpr const char* kWorld = "local.quorvane.shell";
    static constexpr const char* kHandler = "quorvane";
    static constexpr std::size_t kMessageByteLimit = kBridgeMessageByteLimit;

    // Registers the handler and the relay on `manager`; `indexFile` is the bundle's index.html.
    InterfaceBridge(
        WebKitUserContentManager* manager, std::filesystem::path indexFile, std::function<void(PageMessage)> onMessage);
    ~InterfaceBridge();  // unregisters the handler; the relay stays but reaches nothing
    InterfaceBridge(const InterfaceBridge&) = delete;
    InterfaceBridge& operator=(const InterfaceBridge&) = delete;

    // The checks above, on one relayed text.
    static std::optional<PageMessage> parse(std::string_view text, const std::filesystem::path& indexFile)
    {
        return parseBridgeMessage(text, indexFile);
    }

    // Whether `uri` addresses the file `indexFile` (a file URL on this machine whose path,
    // normalised, is the file's; query and fragment do not count).
    static bool addressesFile(std::string_view uri, const std::filesystem::path& indexFile)
    {
        return uriAddressesFile(uri, indexFile);
    }

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvane
