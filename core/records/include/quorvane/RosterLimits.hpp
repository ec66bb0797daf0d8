#pragma once

// The limits of the crew roster, shared by saving a bot and by everything that makes a bot from
// outside data (character cards), so that both fit a bot the same way. Lengths are user-perceived
// characters (TextRules.hpp), counted after trimming.

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvane {

inline constexpr std::size_t kCrewLimit = 100;  // bots per account, archived ones included
inline constexpr std::size_t kBotNameLimit = 64;
inline constexpr std::size_t kBotPersonalityLimit = 1800;
inline constexpr std::size_t kBotRoleLimit = 48;

// A custom avatar: a "data:image/png;base64," URL of at most this many bytes, whose PNG is at
// most this many pixels wide and high.
inline constexpr std::size_t kAvatarDataURLByteLimit = 600000;
inline constexpr int kAvatarSideLimit = 512;

// The built-in avatars a bot's `kind` may name, in the order the interface lists them.
inline constexpr std::array<std::string_view, 32> kAvatarKinds = { "dot", "ceo", "muse", "coach", "scientist",
    "explorer", "chef", "artist", "pilot", "gardener", "wizard", "reader", "astronaut", "detective", "robot",
    "firstmate", "gym", "runner", "yogi", "cyclist", "gamer", "coder", "writer", "musician", "photographer", "student",
    "planner", "meditator", "dancer", "maker", "petlover", "barista" };

}  // namespace quorvane
