#pragma once

#include <string>

namespace quorvane {

// Rewrites JSON text so that it holds only ASCII: every character beyond U+007F becomes a \uXXXX
// escape (a surrogate pair above U+FFFF). JSON's own syntax is ASCII, so only string contents
// change, and the text parses to the same value.
//
// Why: the state travels to the page as one string argument. WebKit keeps a string whose
// characters all fit in one byte as one byte per character, but widens any other string to two
// bytes per character at every copy on its way to the page; for a long history, halving those
// copies halves the first publication.
//
// Bytes that are not well-formed UTF-8 (the encoder never writes any) become U+FFFD rather than
// passing through. Text that is already ASCII is left as it is, without a copy.
void makeASCIIJSON(std::string& text);

}  // namespace quorvane
