#pragma once

// The small text rules every part of the engine shares. Lengths and cuts are in user-perceived
// characters (extended grapheme clusters): a family emoji joined with ZWJ, a flag, or a letter
// with combining marks is one character, and "\r\n" is one character too.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Number of user-perceived characters in UTF-8 text.
std::size_t characterCount(std::string_view text);

// The first `count` user-perceived characters of text (all of it when shorter).
std::string_view prefixCharacters(std::string_view text, std::size_t count);

// White space and newlines: Unicode space, line and paragraph separators, tab, LF, VT, FF,
// CR and NEL. This is the set that trimming removes.
bool isWhitespaceOrNewline(char32_t c);

// The Unicode White_Space property: the set that splits words and that "\s" matches.
bool isUnicodeWhitespace(char32_t c);

// Text without leading and trailing white space and newlines.
std::string_view trimmed(std::string_view text);

// Unicode lower-casing without locale-specific rules.
std::string lowercased(std::string_view text);

// A new random (version 4) UUID in upper case with hyphens, 36 characters.
std::string newUUID();

// The upper-case form of a UUID written as 8-4-4-4-12 hexadecimal digits in either case;
// nothing for any other text. Identifiers that arrive from outside (a browser profile, the id
// the interface chose for a new message) are checked with it.
std::optional<std::string> canonicalUUID(std::string_view text);

// Decodes the code point starting at `pos` and advances `pos` past it. Malformed bytes decode
// as U+FFFD one byte at a time, so every input makes progress.
char32_t decodeUTF8(std::string_view text, std::size_t& pos);

}  // namespace quorvane
