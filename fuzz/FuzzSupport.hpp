#pragma once

// What every fuzz target shares: the input as text, the split of one input into several texts,
// and the way a broken property is reported (an abort, which libFuzzer records as a crash and
// saves the input for).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size)
{
    return { reinterpret_cast<const char*>(data), size };
}

// Pieces of the input between record separators (0x1E), for targets that read several texts.
inline std::vector<std::string_view> pieces(std::string_view input)
{
    std::vector<std::string_view> out;
    std::size_t from = 0;
    for (std::size_t at = input.find('\x1E'); at != std::string_view::npos; at = input.find('\x1E', from)) {
        out.push_back(input.substr(from, at - from));
        from = at + 1;
    }
    out.push_back(input.substr(from));
    return out;
}

// A property of the parser does not hold for this input.
[[noreturn]] inline void propertyBroken(const char* what, std::string_view detail = {})
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size() > 4000 ? 4000 : detail.size()), detail.data());
    std::abort();
}

}  // namespace quorvane::fuzz
