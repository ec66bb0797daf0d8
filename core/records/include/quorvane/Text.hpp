#pragma once

// Text: an immutable, reference-counted UTF-8 string used for every text field of the records.
//
// The controller copies the whole vault on every change and compares the copy with the
// original; the engine copies an account on every page change. A vault can hold tens of
// thousands of long messages, so copying a record must not copy its characters. A Text copy
// costs one atomic increment, and two Texts that share storage compare equal without looking
// at a single byte. The characters never change after construction, so sharing is safe.
//
// Text reads like a std::string_view (it converts to one implicitly) and builds std::string
// results when concatenated, so composing new text stays ordinary string code.

#include <atomic>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace quorvane {

class Text {
public:
    using size_type = std::size_t;
    using const_iterator = std::string_view::const_iterator;
    static constexpr size_type npos = std::string_view::npos;

    Text() noexcept = default;
    Text(std::string_view text)
        : rep_(make(text))
    {
    }
    Text(const char* text)
        : Text(std::string_view(text))
    {
    }
    Text(const std::string& text)
        : Text(std::string_view(text))
    {
    }
    Text(std::nullptr_t) = delete;

    Text(const Text& other) noexcept
        : rep_(other.rep_)
    {
        retain();
    }
    Text(Text&& other) noexcept
        : rep_(other.rep_)
    {
        other.rep_ = nullptr;
    }
    Text& operator=(const Text& other) noexcept
    {
        Text copy(other);
        swap(copy);
        return *this;
    }
    Text& operator=(Text&& other) noexcept
    {
        Text moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~Text() { release(); }

    void swap(Text& other) noexcept { std::swap(rep_, other.rep_); }

    std::string_view view() const noexcept
    {
        return rep_ ? std::string_view(rep_->chars(), rep_->size) : std::string_view();
    }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }
    const char* c_str() const noexcept { return rep_ ? rep_->chars() : ""; }
    const char* data() const noexcept { return c_str(); }
    size_type size() const noexcept { return rep_ ? rep_->size : 0; }
    size_type length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    char operator[](size_type i) const noexcept { return rep_->chars()[i]; }
    const_iterator begin() const noexcept { return view().begin(); }
    const_iterator end() const noexcept { return view().end(); }

    bool starts_with(std::string_view prefix) const noexcept { return view().starts_with(prefix); }
    bool ends_with(std::string_view suffix) const noexcept { return view().ends_with(suffix); }
    bool contains(std::string_view part) const noexcept { return view().find(part) != npos; }
    size_type find(std::string_view part, size_type from = 0) const noexcept { return view().find(part, from); }
    size_type rfind(std::string_view part, size_type from = npos) const noexcept { return view().rfind(part, from); }
    std::string_view substr(size_type pos, size_type count = npos) const { return view().substr(pos, count); }

    // True when both refer to the same storage (a copy of one another).
    bool sharesStorageWith(const Text& other) const noexcept { return rep_ == other.rep_; }

    friend bool operator==(const Text& a, const Text& b) noexcept { return a.rep_ == b.rep_ || a.view() == b.view(); }
    friend std::strong_ordering operator<=>(const Text& a, const Text& b) noexcept { return a.view() <=> b.view(); }

private:
    // The characters and a terminating NUL follow the header in the same allocation.
    struct Rep {
        std::atomic<std::uint32_t> refs;
        std::uint32_t size;
        const char* chars() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    };
    static Rep* make(std::string_view text);
    void retain() const noexcept
    {
        if (rep_)
            rep_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept;

    Rep* rep_ = nullptr;  // null: the empty text, without an allocation
};

inline void swap(Text& a, Text& b) noexcept { a.swap(b); }

// Mixed operations between a Text and anything that reads as a string_view. Both operand types
// are deduced exactly, so nothing is ever converted *to* Text on the way, and these never
// compete with the standard library's own string operators.
template <class A, class B>
concept TextOperands = (std::same_as<A, Text> || std::same_as<B, Text>)&&std::convertible_to<const A&,
    std::string_view>&& std::convertible_to<const B&, std::string_view>;

template <class A, class B>
requires TextOperands<A, B>
bool operator==(const A& a, const B& b) noexcept { return std::string_view(a) == std::string_view(b); }

template <class A, class B>
requires TextOperands<A, B> std::strong_ordering operator<=>(const A& a, const B& b) noexcept
{
    return std::string_view(a) <=> std::string_view(b);
}

// Concatenation yields an ordinary std::string: new text is built, then stored as Text.
template <class A, class B>
requires TextOperands<A, B> std::string operator+(const A& a, const B& b)
{
    std::string_view left(a);
    std::string_view right(b);
    std::string out;
    out.reserve(left.size() + right.size());
    out.append(left).append(right);
    return out;
}
inline std::string& operator+=(std::string& a, const Text& b) { return a.append(b.view()); }

std::ostream& operator<<(std::ostream& out, const Text& text);

}  // namespace quorvane

template <>
struct std::hash<quorvane::Text> {
    std::size_t operator()(const quorvane::Text& text) const noexcept
    {
        return std::hash<std::string_view> {}(text.view());
    }
};
