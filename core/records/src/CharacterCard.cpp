#include "quorvane/CharacterCard.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Base64.hpp"
#include "quorvane/RosterLimits.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
constexpr std::string_view kV3Keyword = "ccv3";
constexpr std::string_view kV2Keyword = "chara";
// Chunk lengths above this are invalid in any PNG.
constexpr std::uint32_t kMaxChunkLength = 0x7FFF'FFFF;

std::uint32_t crc32(std::string_view bytes)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t {};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB8'8320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFF'FFFFu;
    for (char byte : bytes)
        c = table[(c ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFF'FFFFu;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at)
{
    return (std::uint32_t(static_cast<unsigned char>(bytes[at])) << 24)
        | (std::uint32_t(static_cast<unsigned char>(bytes[at + 1])) << 16)
        | (std::uint32_t(static_cast<unsigned char>(bytes[at + 2])) << 8)
        | std::uint32_t(static_cast<unsigned char>(bytes[at + 3]));
}

void appendBigEndian32(std::string& out, std::uint32_t value)
{
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>((value >> 16) & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
    out.push_back(static_cast<char>(value & 0xFF));
}

struct Chunk {
    std::string_view type;
    std::string_view data;
    std::string_view whole;  // length, type, data and CRC, as they stand in the file
};

bool isChunkType(std::string_view type)
{
    return std::all_of(
        type.begin(), type.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// The chunks of a PNG from IHDR to IEND, each checked; what follows IEND is ignored, as decoders
// do. Throws notPNG without the signature and damaged for anything else wrong.
std::vector<Chunk> pngChunks(std::string_view png)
{
    if (!png.starts_with(kSignature))
        throw AppFailure(cardSentences::notPNG);
    std::vector<Chunk> chunks;
    std::size_t at = kSignature.size();
    while (true) {
        // Each step needs 12 bytes of frame around the data; the length is compared with what is
        // left, never added to an offset first.
        if (png.size() - at < 12)
            throw AppFailure(cardSentences::damaged);
        const std::uint32_t length = bigEndian32(png, at);
        if (length > kMaxChunkLength || length > png.size() - at - 12)
            throw AppFailure(cardSentences::damaged);
        const std::string_view typeAndData = png.substr(at + 4, 4 + std::size_t(length));
        const Chunk chunk { typeAndData.substr(0, 4), typeAndData.substr(4), png.substr(at, 12 + std::size_t(length)) };
        if (!isChunkType(chunk.type) || crc32(typeAndData) != bigEndian32(png, at + 8 + length))
            throw AppFailure(cardSentences::damaged);
        if (chunks.empty() && chunk.type != "IHDR")
            throw AppFailure(cardSentences::damaged);
        chunks.push_back(chunk);
        at += 12 + std::size_t(length);
        if (chunk.type == "IEND")
            return chunks;
    }
}

// The keyword of a tEXt chunk, or nothing when it has no separator.
std::optional<std::string_view> textKeyword(const Chunk& chunk)
{
    if (chunk.type != "tEXt")
        return std::nullopt;
    const std::size_t separator = chunk.data.find('\0');
    if (separator == std::string_view::npos)
        return std::nullopt;
    return chunk.data.substr(0, separator);
}

bool isCardChunk(const Chunk& chunk)
{
    const auto keyword = textKeyword(chunk);
    return keyword && (*keyword == kV3Keyword || *keyword == kV2Keyword);
}

std::optional<std::string_view> firstText(const std::vector<Chunk>& chunks, std::string_view keyword)
{
    for (const Chunk& chunk : chunks)
        if (textKeyword(chunk) == keyword)
            return chunk.data.substr(keyword.size() + 1);
    return std::nullopt;
}

// A string member, or nothing when it is missing or holds another type.
std::optional<std::string_view> stringMember(const boost::json::object& object, std::string_view key)
{
    const boost::json::value* value = object.if_contains(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

// The data object of a card whose format name and version are accepted under `keyword`; throws
// otherwise.
const boost::json::object& cardData(const boost::json::value& card, std::string_view keyword)
{
    const boost::json::object* object = card.if_object();
    if (!object)
        throw AppFailure(cardSentences::unsupportedVersion);
    const auto format = stringMember(*object, "spec");
    const auto version = stringMember(*object, "spec_version");
    const bool v3 = format == "chara_card_v3" && version && (*version == "3" || version->starts_with("3."));
    const bool v2 = format == "chara_card_v2" && version == "2.0";
    if (!(v3 || (v2 && keyword == kV2Keyword)))
        throw AppFailure(cardSentences::unsupportedVersion);
    const boost::json::value* data = object->if_contains("data");
    if (!data || !data->is_object())
        throw AppFailure(cardSentences::unsupportedVersion);
    return data->get_object();
}

std::string_view cut(std::string_view text, std::size_t limit) { return trimmed(prefixCharacters(text, limit)); }

boost::json::object cardJSON(const CardPersona& persona, bool v3)
{
    boost::json::object quorvane;
    if (persona.role)
        quorvane["role"] = persona.role->view();
    quorvane["kind"] = persona.kind.view();
    quorvane["avatar"] = persona.builtInAvatar ? "kind" : "picture";

    boost::json::object data;
    data["name"] = persona.name.view();
    data["description"] = "";
    data["personality"] = persona.personality.view();
    data["scenario"] = "";
    data["first_mes"] = "";
    data["mes_example"] = "";
    data["creator_notes"] = "";
    data["system_prompt"] = "";
    data["post_history_instructions"] = "";
    data["alternate_greetings"] = boost::json::array();
    data["tags"] = boost::json::array();
    data["creator"] = "";
    data["character_version"] = "";
    data["extensions"] = boost::json::object { { "quorvane", std::move(quorvane) } };
    if (v3)
        data["group_only_greetings"] = boost::json::array();

    boost::json::object card;
    card["spec"] = v3 ? "chara_card_v3" : "chara_card_v2";
    card["spec_version"] = v3 ? "3.0" : "2.0";
    card["data"] = std::move(data);
    return card;
}

void appendChunk(std::string& out, std::string_view type, std::string_view data)
{
    appendBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.append(type).append(data);
    appendBigEndian32(out, crc32(std::string_view(out).substr(typeAt)));
}

}  // namespace

CharacterCard readCharacterCard(std::string_view png)
{
    if (png.size() > kCardFileByteLimit)
        throw AppFailure(cardSentences::tooLarge);
    const std::vector<Chunk> chunks = pngChunks(png);

    std::string_view keyword = kV3Keyword;
    std::optional<std::string_view> text = firstText(chunks, kV3Keyword);
    if (!text) {
        keyword = kV2Keyword;
        text = firstText(chunks, kV2Keyword);
    }
    if (!text)
        throw AppFailure(cardSentences::notCard);
    // Four Base64 characters make three bytes: the cap is checked on the text before decoding.
    if (text->size() / 4 * 3 > kCardJSONByteLimit + 2)
        throw AppFailure(cardSentences::dataTooLarge);
    const std::optional<std::string> json = decodeBase64(*text);
    if (!json)
        throw AppFailure(cardSentences::brokenBase64);
    if (json->size() > kCardJSONByteLimit)
        throw AppFailure(cardSentences::dataTooLarge);
    boost::system::error_code error;
    const boost::json::value card = boost::json::parse(*json, error);
    if (error)
        throw AppFailure(cardSentences::brokenJSON);
    const boost::json::object& data = cardData(card, keyword);

    CharacterCard result;
    result.name = cut(stringMember(data, "name").value_or(""), kBotNameLimit);
    if (result.name.empty())
        throw AppFailure(cardSentences::noName);

    std::string personality;
    for (std::string_view field : { "personality", "description", "scenario" }) {
        const std::string_view part = trimmed(stringMember(data, field).value_or(""));
        if (part.empty())
            continue;
        if (!personality.empty())
            personality += "\n\n";
        personality += part;
        if (personality.size() > kBotPersonalityLimit * 64)
            break;  // far past any cut; a huge field is not copied whole
    }
    result.personality = cut(personality, kBotPersonalityLimit);
    if (result.personality.empty())
        throw AppFailure(cardSentences::noPersonality);

    const boost::json::value* extensions = data.if_contains("extensions");
    const boost::json::value* ours
        = extensions && extensions->is_object() ? extensions->get_object().if_contains("quorvane") : nullptr;
    if (ours && ours->is_object()) {
        const boost::json::object& fields = ours->get_object();
        if (auto role = stringMember(fields, "role"); role && !cut(*role, kBotRoleLimit).empty())
            result.role = Text(cut(*role, kBotRoleLimit));
        if (auto kind = stringMember(fields, "kind");
            kind && std::find(kAvatarKinds.begin(), kAvatarKinds.end(), *kind) != kAvatarKinds.end())
            result.kind = Text(*kind);
        result.builtInAvatar = result.kind && stringMember(fields, "avatar") == "kind";
    }

    for (const Chunk& chunk : chunks)
        if (!isCardChunk(chunk))
            result.picture.append(chunk.whole);
    result.picture.insert(0, kSignature);
    return result;
}

std::string writeCharacterCard(std::string_view picture, const CardPersona& persona)
{
    const std::vector<Chunk> chunks = pngChunks(picture);
    std::string out(kSignature);
    for (const Chunk& chunk : chunks) {
        if (isCardChunk(chunk))
            continue;
        if (chunk.type == "IEND") {
            for (bool v3 : { true, false }) {
                const std::string json = boost::json::serialize(cardJSON(persona, v3));
                std::string data(v3 ? kV3Keyword : kV2Keyword);
                data.push_back('\0');
                data += encodeBase64(json);
                appendChunk(out, "tEXt", data);
            }
        }
        out.append(chunk.whole);
    }
    return out;
}

}  // namespace quorvane
