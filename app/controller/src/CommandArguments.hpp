#pragma once

// The arguments of one interface command ("data"), read by the rule every command shares: each
// key is read as the type the command expects, and a key whose value has another type counts
// as absent, exactly like a missing key. The page is the only writer of these objects and it is
// not trusted to get the types right, so no accessor ever throws or converts: a number where a
// string belongs, a nested object, or a list of the wrong shape simply reads as absent.

#include <optional>
#include <string_view>
#include <vector>

#include <boost/json/object.hpp>

#include "quorvane/Text.hpp"

namespace quorvane {

class CommandArguments {
public:
    // `data` must outlive the reader.
    explicit CommandArguments(const boost::json::object& data)
        : data_(data)
    {
    }

    // The string under `key`; absent when the key is missing or holds anything but a string.
    std::optional<Text> string(std::string_view key) const;
    // The string under `key`, or `fallback` when it is absent.
    Text string(std::string_view key, std::string_view fallback) const;
    // A list of lists of strings; absent when any level has another type.
    std::optional<std::vector<std::vector<Text>>> stringLists(std::string_view key) const;

private:
    const boost::json::object& data_;
};

}  // namespace quorvane
