#pragma once

// The diagnostics status file: with QUORVANE_DIAGNOSTICS set to exactly "1", every connected
// turn of the run loop writes a small JSON summary of what it sees to /tmp/quorvane-status.json,
// for people debugging a connection. Any other value, or none, writes nothing.
//
// The path is fixed and /tmp is shared, so the file is never written in place: the text goes
// into a new temporary file in the same folder (created exclusively, mode 0600), which is then
// renamed over the path. A rename replaces whatever entry is at the path and never follows it,
// so a symbolic link that someone planted there is replaced, not written through; and in a
// sticky /tmp an entry owned by another user cannot be replaced at all, which makes the write
// fail. Every failure is silent: diagnostics must never disturb the application.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quorvane/PageRecords.hpp"
#include "quorvane/Vault.hpp"

namespace quorvane {

inline constexpr const char* kStatusFilePath = "/tmp/quorvane-status.json";
inline constexpr const char* kDiagnosticsVariable = "QUORVANE_DIAGNOSTICS";

// Whether QUORVANE_DIAGNOSTICS is exactly "1" right now.
bool diagnosticsEnabled();

// The status record's JSON text, keys in this order: "avatarLength", "profileName", "phase",
// "hasAnchor", "match", "replyLength", "recentLengths". Lengths are in characters.
std::string statusFileJSON(const DotSnapshot& snapshot, const Account& account);

// Replaces the file at `path` with `text` as described above; false when any step failed.
bool writeStatusFile(const std::filesystem::path& path, std::string_view text);

}  // namespace quorvane
