#include "quorvane/Text.hpp"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

namespace quorvane {

Text::Rep* Text::make(std::string_view text)
{
    if (text.empty())
        return nullptr;
    if (text.size() > std::numeric_limits<std::uint32_t>::max() - sizeof(Rep))
        throw std::length_error("Text is larger than 4 GiB");
    // One allocation holds the count, the size and the characters with their terminator.
    void* memory = std::malloc(sizeof(Rep) + text.size() + 1);
    if (!memory)
        throw std::bad_alloc();
    auto* rep = static_cast<Rep*>(memory);
    new (&rep->refs) std::atomic<std::uint32_t>(1);
    rep->size = static_cast<std::uint32_t>(text.size());
    char* chars = reinterpret_cast<char*>(rep + 1);
    std::memcpy(chars, text.data(), text.size());
    chars[text.size()] = '\0';
    return rep;
}

void Text::release() noexcept
{
    if (rep_ && rep_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        rep_->refs.~atomic();
        std::free(rep_);
    }
    rep_ = nullptr;
}

std::ostream& operator<<(std::ostream& out, const Text& text) { return out << text.view(); }

}  // namespace quorvane
