#pragma once

// The records as the interface page receives them. The wire form is the vault's (keys equal to
// the field names, in declaration order; absent optionals left out, never null) with one
// difference: dates are ISO 8601 text ("2026-12-09T22:37:17.250Z", what iso8601() writes)
// instead of seconds since the reference date, since the page reads them with the Date
// constructor.
//
// appendPageJSON(out, value) appends the text of any record or of any value the records are
// made of (a message, the live reply, one field of the state), so the shell can send the whole
// state once and then only the parts that changed, all in the same form.
//
// Every floating-point field of the records is a Date, so the encoder writes every double as a
// date; a record that ever gains a floating-point field that is not a date must not be sent
// through this encoder unchanged. Text, booleans, integers and the enumerations coded by name are
// written by the records' own writers, exactly as in the vault.
//
// Speed. A long history is tens of megabytes of JSON, so this writes as fast as the vault's
// encoder does, and three choices make that so:
//   - dates are formatted by hand into the output (see PageJSON.cpp); the C library's way of
//     doing it (gmtime and snprintf) cost as much as everything else in a 7 KB message;
//   - appendPageJSON first walks the value to estimate the size of its text and reserves room
//     for it, so a large state is written into one buffer instead of one that doubles and is
//     copied over and over. The estimate allows for escapes; when text needs more, the string
//     simply grows as usual. Room reserved but never written costs no memory, since the system
//     only provides pages that are touched;
//   - a buffer of many megabytes asks the system for large pages. Providing a page the first
//     time it is written costs the system more than writing it (on a virtual machine, far
//     more), and a 2 MB page is provided once where 4 KB pages are provided 512 times.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "quorvane/Date.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/NamedEnum.hpp"

namespace quorvane {

namespace page_json_detail {

template <class T>
struct IsOptional : std::false_type {
};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
};
template <class T>
struct IsSequence : std::false_type {
};
template <class T>
struct IsSequence<std::vector<T>> : std::true_type {
};
template <class T>
struct IsSequence<CowVector<T>> : std::true_type {
};
template <class T>
struct IsMap : std::false_type {
};
template <class T>
struct IsMap<std::map<std::string, T>> : std::true_type {
};

// Writes the date as a quoted ISO 8601 string, the same text as iso8601(date).
void appendDate(std::string& out, Date date);

// Makes room for `room` more bytes in `out` (keeping the string's geometric growth, so appending
// many small values stays linear); for a large room, in large pages where the system has them.
void reserveRoom(std::string& out, std::size_t room);

// The length of `"2026-12-09T22:37:17.250Z"`, quotes included.
inline constexpr std::size_t kDateLength = 26;

// A text's room: itself, its quotes and an allowance for escapes (a quote in HTML, a line break).
inline std::size_t textRoom(std::size_t size) { return size + size / 8 + 2; }

template <class T>
void write(std::string& out, const T& value);

// Room for the text of `value`, escapes allowed for; never less than a value without escapes
// needs. A key's room holds its quotes, colon and comma.
template <class T>
std::size_t room(const T& value)
{
    if constexpr (std::is_same_v<T, Date>) {
        return kDateLength;
    } else if constexpr (std::is_same_v<T, Text>) {
        return textRoom(value.size());
    } else if constexpr (std::is_same_v<T, bool>) {
        return 5;
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return 20;
    } else if constexpr (NamedEnum<T>) {
        return toString(value).size() + 2;
    } else if constexpr (IsOptional<T>::value) {
        return value ? room(*value) : 0;
    } else if constexpr (IsSequence<T>::value) {
        std::size_t total = 2;
        for (const auto& element : value)
            total += room(element) + 1;
        return total;
    } else if constexpr (IsMap<T>::value) {
        std::size_t total = 2;
        for (const auto& [key, element] : value)
            total += textRoom(key.size()) + 2 + room(element);
        return total;
    } else {
        static_assert(DescribedRecord<T>, "the page encoder writes records and the values they are made of");
        std::size_t total = 2;
        boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>(
            [&](auto member) { total += std::string_view(member.name).size() + 4 + room(value.*member.pointer); });
        return total;
    }
}

template <class T>
void write(std::string& out, const T& value)
{
    if constexpr (std::is_same_v<T, Date>) {
        appendDate(out, value);
    } else if constexpr (IsSequence<T>::value) {
        out.push_back('[');
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out.push_back(',');
            first = false;
            write(out, element);
        }
        out.push_back(']');
    } else if constexpr (IsMap<T>::value) {
        out.push_back('{');
        bool first = true;
        for (const auto& [key, element] : value) {
            if (!first)
                out.push_back(',');
            first = false;
            json_detail::appendEscaped(out, key);
            out.push_back(':');
            write(out, element);
        }
        out.push_back('}');
    } else if constexpr (DescribedRecord<T>) {
        out.push_back('{');
        bool first = true;
        boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>([&](auto member) {
            const auto& field = value.*member.pointer;
            using Field = std::remove_cvref_t<decltype(field)>;
            if constexpr (IsOptional<Field>::value) {
                if (!field)
                    return;
            }
            if (!first)
                out.push_back(',');
            first = false;
            out.push_back('"');
            out.append(member.name);  // field names are plain ASCII identifiers
            out.append("\":");
            if constexpr (IsOptional<Field>::value)
                write(out, *field);
            else
                write(out, field);
        });
        out.push_back('}');
    } else {
        // Text, bool, integers and the enumerations coded by name.
        appendJSON(out, value);
    }
}

}  // namespace page_json_detail

// Appends the compact page JSON text of `value` (a record, a list of records, a date, a text…).
template <class T>
void appendPageJSON(std::string& out, const T& value)
{
    page_json_detail::reserveRoom(out, page_json_detail::room(value));
    page_json_detail::write(out, value);
}

// Compact page JSON text of a record (or of any value the records are made of).
template <class T>
std::string encodePageJSON(const T& value)
{
    std::string out;
    appendPageJSON(out, value);
    return out;
}

}  // namespace quorvane
