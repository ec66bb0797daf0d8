#pragma once

// Rules shared by the engine's seams for the account's optional lists.

#include <algorithm>
#include <optional>
#include <vector>

#include "quorvane/Text.hpp"

namespace quorvane {

// Appends `value` unless the list holds it already, creating the list when it is absent: how a
// bot is marked unread and how a payload is listed for clearing from the Dot composer.
inline void appendOnce(std::optional<std::vector<Text>>& list, const Text& value)
{
    if (!list)
        list.emplace();
    if (std::find(list->begin(), list->end(), value) == list->end())
        list->push_back(value);
}

}  // namespace quorvane
