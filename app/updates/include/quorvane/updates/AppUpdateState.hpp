#pragma once

// The small record the interface page and the "Check for Updates…" menu item mirror.
// Its JSON keys are the field names in this order; availableVersion is left out when absent.

#include <optional>
#include <string_view>

#include <boost/describe/class.hpp>

#include "quorvane/Json.hpp"
#include "quorvane/Text.hpp"

namespace quorvane {

// The values of AppUpdateState::status.
namespace UpdateStatus {
inline constexpr std::string_view unavailable = "unavailable";
inline constexpr std::string_view idle = "idle";
inline constexpr std::string_view checking = "checking";
inline constexpr std::string_view available = "available";
inline constexpr std::string_view current = "current";
inline constexpr std::string_view error = "error";
}  // namespace UpdateStatus

struct AppUpdateState {
    bool configured = false;
    Text status = UpdateStatus::unavailable;
    Text version;
    std::optional<Text> availableVersion;
    bool automaticallyChecks = false;
    bool canCheck = false;

    bool operator==(const AppUpdateState&) const = default;
};

BOOST_DESCRIBE_STRUCT(
    AppUpdateState, (), (configured, status, version, availableVersion, automaticallyChecks, canCheck))

}  // namespace quorvane
