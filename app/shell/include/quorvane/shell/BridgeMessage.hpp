#pragma once

// The native gate of the interface bridge: what a relayed text must look like to count as a
// command. Kept apart from InterfaceBridge (which registers the handler on WebKit) so that the
// check itself is plain code over Boost.JSON and GLib, testable and fuzzable without a toolkit.
//
// Every relayed text is hostile input:
//   - at most kBridgeMessageByteLimit bytes (64 MiB: room for the largest legitimate command, a
//     "read" receipt that carries the text of a long conversation, and a bound on what a
//     misbehaving page can make the application parse);
//   - JSON of the form {"href": <the index.html file URL>, "message": {…}} where the message
//     has a string "id" and a string "command"; "data" is taken when it is an object and is an
//     empty object otherwise.
// Anything else is refused (nothing is returned).

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

namespace quorvane {

struct PageMessage {
    std::string id;
    std::string command;
    boost::json::object data;
};

inline constexpr std::size_t kBridgeMessageByteLimit = 64u * 1024 * 1024;

// The checks above, on one relayed text; `indexFile` is the bundle's index.html.
std::optional<PageMessage> parseBridgeMessage(std::string_view text, const std::filesystem::path& indexFile);

// Whether `uri` addresses the file `indexFile` (a file URL on this machine whose path,
// normalised, is the file's; query and fragment do not count).
bool uriAddressesFile(std::string_view uri, const std::filesystem::path& indexFile);

}  // namespace quorvane
