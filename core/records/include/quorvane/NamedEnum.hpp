#pragma once

// Closed sets of names in the records (job phases, message roles and statuses, handoff statuses,
// themes, icon styles) are enum classes whose JSON form is the value's name.
//
// An enum takes part by specialising EnumNames with its names in declaration order and a short
// description of the set for error messages:
//
//     template <>
//     struct EnumNames<JobPhase> {
//         static constexpr std::string_view what = "job phase";
//         static constexpr std::array<std::string_view, 8> names = { "queued", … };
//     };
//
// It then encodes as its name, decodes from its name (any other name, or a value that is not a
// string, fails the decode with JsonDecodeError naming the path, like any other bad value),
// converts with toString / fromString, and prints by name (so GoogleTest shows names, not numbers).

#include <array>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

#include "quorvane/Json.hpp"

namespace quorvane {

template <class E>
struct EnumNames;

template <class E>
concept NamedEnum = std::is_enum_v<E> && requires
{
    {
        EnumNames<E>::what
        } -> std::convertible_to<std::string_view>;
    EnumNames<E>::names.size();
};

template <NamedEnum E>
constexpr std::string_view toString(E value)
{
    return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

// The value with this name; none for a name outside the set.
template <NamedEnum E>
constexpr std::optional<E> fromString(std::string_view name)
{
    const auto& names = EnumNames<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<E>(i);
    return std::nullopt;
}

template <NamedEnum E>
void decodeInto(const boost::json::value& value, E& out)
{
    const auto* name = value.if_string();
    if (!name)
        json_detail::typeMismatch("a string", value);
    std::string_view text(name->data(), name->size());
    auto found = fromString<E>(text);
    if (!found)
        throw JsonDecodeError("unknown " + std::string(EnumNames<E>::what) + " \"" + std::string(text) + "\"");
    out = *found;
}

template <NamedEnum E>
void appendJSON(std::string& out, E value)
{
    json_detail::appendEscaped(out, toString(value));
}

template <NamedEnum E>
void tag_invoke(boost::json::value_from_tag, boost::json::value& value, E named)
{
    value = boost::json::string(toString(named));
}

template <NamedEnum E>
E tag_invoke(boost::json::value_to_tag<E>, const boost::json::value& value)
{
    E out {};
    decodeInto(value, out);
    return out;
}

template <NamedEnum E>
std::ostream& operator<<(std::ostream& out, E value)
{
    return out << toString(value);
}

}  // namespace quorvane
