#pragma once

// JSON coding of the records.
//
// Every record lists its fields once, with BOOST_DESCRIBE_STRUCT, and all coding is derived
// from that list, so a field cannot be written under one name and read under another:
//   - a std::optional field is written only when it holds a value (never as null) and reads
//     as absent when its key is missing;
//   - every other field is a required key: a missing key or a value of the wrong JSON type
//     makes the whole decode fail with JsonDecodeError, which names the path of the value;
//   - keys that no field names are ignored.
//
// Two encoders share the field lists: boost::json::value_from(record) builds a DOM (tests and
// small values), and encodeJSON(record) writes compact text straight into a string, which is
// what the vault store uses for its large plaintext.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <boost/describe/class.hpp>
#include <boost/describe/members.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <boost/mp11/algorithm.hpp>

#include "quorvane/CowVector.hpp"
#include "quorvane/Text.hpp"

namespace quorvane {

// The JSON text does not have the shape of the record being decoded. The message names the
// path of the offending value, for example: accounts.0.bots.2: missing key "name".
class JsonDecodeError : public std::runtime_error {
public:
    explicit JsonDecodeError(const std::string& problem, std::string path = {})
        : std::runtime_error(path.empty() ? problem : path + ": " + problem)
        , path(std::move(path))
        , problem(problem)
    {
    }
    std::string path;
    std::string problem;
};

template <class T>
concept DescribedRecord = boost::describe::has_describe_members<T>::value;

// How a JSON string writes "/": as it is (the vault, the page), or as "\/", as the serializer
// whose output the crew fingerprint has always been computed over did.
enum class SlashEscape { none, backslash };

namespace json_detail {

template <class T>
struct IsOptional : std::false_type {
};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
};

[[noreturn]] void typeMismatch(const char* expected, const boost::json::value& found);
[[noreturn]] void rethrowWithKey(std::string_view key, const JsonDecodeError& error);
// Writes text as a quoted JSON string: '"', '\\' and control characters escaped (\b \f \n \r \t,
// the others as \u00XX), everything else, non-ASCII UTF-8 included, as it is.
void appendEscaped(std::string& out, std::string_view text, SlashEscape slashes = SlashEscape::none);
void appendNumber(std::string& out, double value);
void appendInteger(std::string& out, std::int64_t value);

}  // namespace json_detail

// ---- Decoding: decodeInto(value, field) for every field type --------------------------------

void decodeInto(const boost::json::value& value, Text& out);
void decodeInto(const boost::json::value& value, bool& out);
void decodeInto(const boost::json::value& value, std::int64_t& out);
void decodeInto(const boost::json::value& value, double& out);

template <class T>
void decodeInto(const boost::json::value& value, std::vector<T>& out);
template <class T>
void decodeInto(const boost::json::value& value, CowVector<T>& out);
template <class T>
void decodeInto(const boost::json::value& value, std::map<std::string, T>& out);
template <DescribedRecord T>
void decodeInto(const boost::json::value& value, T& out);

template <class T>
void decodeInto(const boost::json::value& value, std::vector<T>& out)
{
    const auto* array = value.if_array();
    if (!array)
        json_detail::typeMismatch("an array", value);
    out.clear();
    out.reserve(array->size());
    std::size_t index = 0;
    for (const auto& element : *array) {
        try {
            decodeInto(element, out.emplace_back());
        } catch (const JsonDecodeError& error) {
            json_detail::rethrowWithKey(std::to_string(index), error);
        }
        ++index;
    }
}

template <class T>
void decodeInto(const boost::json::value& value, CowVector<T>& out)
{
    std::vector<T> elements;
    decodeInto(value, elements);
    out = CowVector<T>(std::move(elements));
}

template <class T>
void decodeInto(const boost::json::value& value, std::map<std::string, T>& out)
{
    const auto* object = value.if_object();
    if (!object)
        json_detail::typeMismatch("an object", value);
    out.clear();
    for (const auto& entry : *object) {
        try {
            decodeInto(entry.value(), out[std::string(entry.key())]);
        } catch (const JsonDecodeError& error) {
            json_detail::rethrowWithKey(entry.key(), error);
        }
    }
}

template <DescribedRecord T>
void decodeInto(const boost::json::value& value, T& out)
{
    const auto* object = value.if_object();
    if (!object)
        json_detail::typeMismatch("an object", value);
    boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>([&](auto member) {
        auto& field = out.*member.pointer;
        using Field = std::remove_reference_t<decltype(field)>;
        const boost::json::value* found = object->if_contains(member.name);
        if constexpr (json_detail::IsOptional<Field>::value) {
            // null reads as absent, as files written by other encoders may hold it.
            if (!found || found->is_null()) {
                field.reset();
                return;
            }
            try {
                decodeInto(*found, field.emplace());
            } catch (const JsonDecodeError& error) {
                json_detail::rethrowWithKey(member.name, error);
            }
        } else {
            if (!found)
                throw JsonDecodeError(std::string("missing key \"") + member.name + "\"");
            try {
                decodeInto(*found, field);
            } catch (const JsonDecodeError& error) {
                json_detail::rethrowWithKey(member.name, error);
            }
        }
    });
}

// Parses JSON text as boost::json::parse does, except that every number with a fraction or an
// exponent is converted from its text with correct rounding. Boost.JSON 1.81's own conversion is
// not correctly rounded (it reads "-2.5e-300" as -2.5000000000000003e-300, and about one in ten
// numbers of twelve digits or more one unit in the last place off), so a number written with the
// shortest form that reads back exactly would otherwise change on every save and load.
boost::json::value parseJSON(std::string_view text, boost::json::error_code& error);
boost::json::value parseJSON(std::string_view text);  // throws boost::system::system_error

// Parses JSON text and decodes it as T; any failure is a JsonDecodeError.
template <class T>
T decodeJSON(std::string_view text)
{
    boost::json::error_code error;
    boost::json::value value = parseJSON(text, error);
    if (error)
        throw JsonDecodeError("The data is not valid JSON: " + error.message());
    T out {};
    decodeInto(value, out);
    return out;
}

// ---- Encoding to text: appendJSON(out, field) for every field type -------------------------

inline void appendJSON(std::string& out, const Text& value) { json_detail::appendEscaped(out, value.view()); }
inline void appendJSON(std::string& out, bool value) { out.append(value ? "true" : "false"); }
inline void appendJSON(std::string& out, std::int64_t value) { json_detail::appendInteger(out, value); }
inline void appendJSON(std::string& out, double value) { json_detail::appendNumber(out, value); }

template <class T>
void appendJSON(std::string& out, const std::vector<T>& values);
template <class T>
void appendJSON(std::string& out, const CowVector<T>& values);
template <class T>
void appendJSON(std::string& out, const std::map<std::string, T>& values);
template <DescribedRecord T>
void appendJSON(std::string& out, const T& record);

template <class T>
void appendJSON(std::string& out, const std::vector<T>& values)
{
    out.push_back('[');
    bool first = true;
    for (const auto& value : values) {
        if (!first)
            out.push_back(',');
        first = false;
        appendJSON(out, value);
    }
    out.push_back(']');
}

template <class T>
void appendJSON(std::string& out, const CowVector<T>& values)
{
    appendJSON(out, values.elements());
}

template <class T>
void appendJSON(std::string& out, const std::map<std::string, T>& values)
{
    out.push_back('{');
    bool first = true;
    for (const auto& [key, value] : values) {
        if (!first)
            out.push_back(',');
        first = false;
        json_detail::appendEscaped(out, key);
        out.push_back(':');
        appendJSON(out, value);
    }
    out.push_back('}');
}

template <DescribedRecord T>
void appendJSON(std::string& out, const T& record)
{
    out.push_back('{');
    bool first = true;
    boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>([&](auto member) {
        const auto& field = record.*member.pointer;
        using Field = std::remove_cvref_t<decltype(field)>;
        auto writeKey = [&] {
            if (!first)
                out.push_back(',');
            first = false;
            out.push_back('"');
            out.append(member.name);  // field names are plain ASCII identifiers
            out.append("\":");
        };
        if constexpr (json_detail::IsOptional<Field>::value) {
            if (field) {
                writeKey();
                appendJSON(out, *field);
            }
        } else {
            writeKey();
            appendJSON(out, field);
        }
    });
    out.push_back('}');
}

// Compact JSON text of a value.
template <class T>
std::string encodeJSON(const T& value)
{
    std::string out;
    appendJSON(out, value);
    return out;
}

// ---- Boost.JSON customisation points ---------------------------------------------------------

void tag_invoke(boost::json::value_from_tag, boost::json::value& value, const Text& text);
Text tag_invoke(boost::json::value_to_tag<Text>, const boost::json::value& value);

template <DescribedRecord T>
void tag_invoke(boost::json::value_from_tag, boost::json::value& value, const T& record)
{
    // The text encoder is the single source of the wire form; parsing it back keeps the DOM
    // form identical to what the store writes.
    value = parseJSON(encodeJSON(record));
}

template <DescribedRecord T>
T tag_invoke(boost::json::value_to_tag<T>, const boost::json::value& value)
{
    T out {};
    decodeInto(value, out);
    return out;
}

}  // namespace quorvane
