#pragma once

// The records as the interface page receives them. The wire form is the vault's (keys equal to
// the field names, in declaration order; absent optionals left out, never null) with one
// difference: dates are ISO 8601 text ("2026-12-09T22:37:17.250Z") instead of seconds since the
// reference date, since the page reads them with the Date constructor.
//
// Every floating-point field of the records is a Date, so the encoder writes every double as a
// date; a record that ever gains a floating-point field that is not a date must not be sent
// through this encoder unchanged. Enumerations (JobPhase and whatever the records code by name)
// are written by their own appendJSON, exactly as in the vault.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "quorvane/Date.hpp"
#include "quorvane/Json.hpp"

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
}  // namespace page_json_detail

template <class T>
void appendPageJSON(std::string& out, const T& value)
{
    using namespace page_json_detail;
    if constexpr (std::is_same_v<T, Date>) {
        out.push_back('"');
        out.append(iso8601(value));
        out.push_back('"');
    } else if constexpr (IsSequence<T>::value) {
        out.push_back('[');
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out.push_back(',');
            first = false;
            appendPageJSON(out, element);
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
            appendPageJSON(out, element);
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
                appendPageJSON(out, *field);
            else
                appendPageJSON(out, field);
        });
        out.push_back('}');
    } else {
        // Text, bool, integers and the enumerations coded by name.
        appendJSON(out, value);
    }
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
