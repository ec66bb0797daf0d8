#include "quorvane/controller/ConnectionStatus.hpp"

#include <array>

#include "quorvane/Json.hpp"

namespace quorvane {

namespace {
constexpr std::array<std::string_view, 7> kNames = {
    "disconnected",
    "connecting",
    "recovering",
    "connected",
    "attention",
    "signIn",
    "expired",
};
}  // namespace

std::string_view toString(ConnectionStatus status) { return kNames[static_cast<std::size_t>(status)]; }

void appendJSON(std::string& out, ConnectionStatus status) { json_detail::appendEscaped(out, toString(status)); }

}  // namespace quorvane
