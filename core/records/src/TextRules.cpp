#include "quorvane/TextRules.hpp"

#include <cerrno>
#include <memory>
#include <stdexcept>

#include <sys/random.h>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

namespace quorvane {

namespace {

bool isASCII(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

// Creating a break iterator loads ICU's rules; one per thread is kept and re-pointed at each text.
icu::BreakIterator& characterIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made)
            throw std::runtime_error("ICU could not create a character break iterator");
        return made;
    }();
    return *iterator;
}

// Walks the grapheme boundaries of UTF-8 text; visit(byteOffset) returns false to stop.
template <class Visit>
void forEachBoundary(std::string_view text, Visit visit)
{
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status))
        throw std::runtime_error("ICU could not open the text");
    icu::BreakIterator& iterator = characterIterator();
    iterator.setText(&utext, status);
    if (U_FAILURE(status)) {
        utext_close(&utext);
        throw std::runtime_error("ICU could not iterate the text");
    }
    // Native indexes of a UTF-8 UText are byte offsets.
    for (int32_t boundary = iterator.next(); boundary != icu::BreakIterator::DONE; boundary = iterator.next())
        if (!visit(static_cast<std::size_t>(boundary)))
            break;
    utext_close(&utext);
}

}  // namespace

std::size_t characterCount(std::string_view text)
{
    if (isASCII(text)) {
        // Every ASCII character is its own cluster except CR LF, which is one.
        std::size_t count = text.size();
        for (std::size_t i = 1; i < text.size(); ++i)
            if (text[i - 1] == '\r' && text[i] == '\n')
                --count;
        return count;
    }
    std::size_t count = 0;
    forEachBoundary(text, [&](std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string_view prefixCharacters(std::string_view text, std::size_t count)
{
    if (count == 0)
        return text.substr(0, 0);
    if (isASCII(text)) {
        std::size_t clusters = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && i > 0 && text[i - 1] == '\r')
                continue;  // the LF belongs to the CR's cluster
            if (clusters == count)
                return text.substr(0, i);
            ++clusters;
        }
        return text;
    }
    std::size_t end = text.size();
    std::size_t clusters = 0;
    forEachBoundary(text, [&](std::size_t boundary) {
        if (++clusters == count) {
            end = boundary;
            return false;
        }
        return true;
    });
    return text.substr(0, end);
}

bool isWhitespaceOrNewline(char32_t c)
{
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85)
        return true;
    if (c < 0x80)
        return c == 0x20;
    auto type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

bool isUnicodeWhitespace(char32_t c)
{
    if (c < 0x80)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

char32_t decodeUTF8(std::string_view text, std::size_t& pos)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    // C0, C1 and F5 to FF never start a sequence; neither does a continuation byte.
    int length = lead >= 0xF0 && lead <= 0xF4 ? 4
        : lead >= 0xE0 && lead <= 0xEF        ? 3
        : lead >= 0xC2 && lead <= 0xDF        ? 2
                                              : 0;
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return 0xFFFD;
    }
    char32_t c = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += length;
    return c;
}

std::string_view trimmed(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t next = start;
        if (!isWhitespaceOrNewline(decodeUTF8(text, next)))
            break;
        start = next;
    }
    std::size_t end = text.size();
    while (end > start) {
        // Step back to the start of the last code point.
        std::size_t begin = end - 1;
        while (begin > start && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80 && end - begin < 4)
            --begin;
        std::size_t pos = begin;
        char32_t c = decodeUTF8(text, pos);
        if (pos != end || !isWhitespaceOrNewline(c))
            break;
        end = begin;
    }
    return text.substr(start, end - start);
}

std::string lowercased(std::string_view text)
{
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    icu::UnicodeString unicode
        = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

std::string newUUID()
{
    // The kernel's random source, which blocks only until it is seeded at boot.
    unsigned char bytes[16];
    for (std::size_t filled = 0; filled < sizeof bytes;) {
        ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error("The system random source failed");
        filled += static_cast<std::size_t>(got);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 0xF]);
    }
    return out;
}

std::optional<std::string> canonicalUUID(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    std::string canonical(text);
    for (std::size_t i = 0; i < canonical.size(); ++i) {
        char& c = canonical[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return std::nullopt;
        } else if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return std::nullopt;
        }
    }
    return canonical;
}

}  // namespace quorvane
