#pragma once

// The page encoder as it was first written: the plainest walk over the records, every date
// through iso8601(), no size estimate. The page has always received exactly this text, so it is
// the reference the fast encoder (quorvane/controller/PageJSON.hpp) must match byte for byte.
// Kept deliberately simple; it is not used outside the tests.

#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "quorvane/Date.hpp"
#include "quorvane/Json.hpp"

namespace quorvane::reference {

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

template <class T>
void appendReferencePageJSON(std::string& out, const T& value)
{
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
            appendReferencePageJSON(out, element);
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
            appendReferencePageJSON(out, element);
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
            out.append(member.name);
            out.append("\":");
            if constexpr (IsOptional<Field>::value)
                appendReferencePageJSON(out, *field);
            else
                appendReferencePageJSON(out, field);
        });
        out.push_back('}');
    } else {
        appendJSON(out, value);
    }
}

template <class T>
std::string referencePageJSON(const T& value)
{
    std::string out;
    appendReferencePageJSON(out, value);
    return out;
}

}  // namespace quorvane::reference
