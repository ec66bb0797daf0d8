#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <unicode/uchar.h>

#include "EngineCommon.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/Digest.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kRoleSourceSalt = "role-v1\n";
constexpr std::size_t kReplyByteLimit = 20000;
constexpr std::size_t kLabelMinCharacters = 2;
constexpr std::size_t kLabelMaxCharacters = 48;
constexpr std::size_t kLabelMaxWords = 6;
constexpr std::string_view kFence = "```";

struct RoleEntry {
    std::string id;
    std::string role;
};

// The answer is asked for as {"roles":[{"id":…,"role":…},…]}; anything else in it is ignored,
// but an answer of another shape is not trusted at all.
std::optional<std::vector<RoleEntry>> decodeRoles(std::string_view text)
{
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(text, error);
    if (error)
        return std::nullopt;
    const auto* root = value.if_object();
    if (!root)
        return std::nullopt;
    const auto* roles = root->if_contains("roles");
    if (!roles || !roles->is_array())
        return std::nullopt;
    std::vector<RoleEntry> entries;
    for (const auto& item : roles->get_array()) {
        const auto* object = item.if_object();
        if (!object)
            return std::nullopt;
        const auto* id = object->if_contains("id");
        const auto* role = object->if_contains("role");
        if (!id || !role || !id->is_string() || !role->is_string())
            return std::nullopt;
        entries.push_back({ std::string(id->get_string()), std::string(role->get_string()) });
    }
    return entries;
}

// Models sometimes wrap the JSON in a fenced code block, with or without a language word.
std::string_view withoutFence(std::string_view text)
{
    if (text.size() >= 2 * kFence.size() && text.starts_with(kFence) && text.ends_with(kFence)) {
        auto lineFeed = text.find('\n');
        if (lineFeed != std::string_view::npos)
            return text.substr(lineFeed + 1, text.size() - kFence.size() - (lineFeed + 1));
    }
    return text;
}

std::size_t wordCount(std::string_view text)
{
    std::size_t words = 0;
    bool inWord = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        bool space = isUnicodeWhitespace(decodeUTF8(text, pos));
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

// Control characters, and the invisible format characters that can make a label in the sidebar
// read as something else (a right-to-left override, a zero-width space). The two joiners stay:
// they shape emoji and the letters of some scripts, and can neither hide nor reorder text.
bool hasControlOrFormatCharacter(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = decodeUTF8(text, pos);
        auto type = u_charType(static_cast<UChar32>(c));
        if (type == U_CONTROL_CHAR || (type == U_FORMAT_CHAR && c != U'\u200C' && c != U'\u200D'))
            return true;
    }
    return false;
}

// A short label: 2 to 48 characters, at most six words, nothing that reads as cut off.
bool isAcceptableLabel(std::string_view label)
{
    auto characters = characterCount(label);
    return characters >= kLabelMinCharacters && characters <= kLabelMaxCharacters && wordCount(label) <= kLabelMaxWords
        && !hasControlOrFormatCharacter(label) && label.find("\u2026") == std::string_view::npos
        && label.find("...") == std::string_view::npos;
}

}  // namespace

std::string Bot::roleSource() const { return sha256Hex(std::string(kRoleSourceSalt) + personality); }

void Bot::invalidateGeneratedRoleIfNeeded()
{
    roleAttemptSource.reset();
    if (!generatedRoleSource || *generatedRoleSource != roleSource()) {
        generatedRole.reset();
        generatedRoleSource.reset();
    }
}

void Account::applyRoleLabels(const PendingRequest& job, std::string_view reply)
{
    if (!job.roleTargets || reply.size() > kReplyByteLimit)
        return;
    auto entries = decodeRoles(withoutFence(trimmed(reply)));
    if (!entries)
        return;
    const auto& targets = *job.roleTargets;
    for (const auto& entry : *entries) {
        std::string_view label = trimmed(entry.role);
        if (!isAcceptableLabel(label))
            continue;
        auto named = [&](const RoleTarget& target) { return target.botID == entry.id; };
        if (std::count_if(targets.begin(), targets.end(), named) != 1)
            continue;
        const RoleTarget& target = *std::find_if(targets.begin(), targets.end(), named);
        Bot* bot = findBot(*this, entry.id);
        // A label made for an older personality, or for a bot with a role of the user's own, is not used.
        if (!bot || bot->id == kPrimaryBotID || bot->roleSource() != target.source.view())
            continue;
        if (bot->role && !trimmed(*bot->role).empty())
            continue;
        bot->generatedRole = label;
        bot->generatedRoleSource = target.source;
    }
}

void Account::finishRoleGeneration(std::string_view id, const std::optional<Text>& reply)
{
    auto found = std::find_if(jobs.begin(), jobs.end(), [&](const PendingRequest& job) { return job.id == id; });
    if (found == jobs.end())
        return;
    const PendingRequest request = *found;
    if (reply)
        applyRoleLabels(request, *reply);
    if (request.roleTargets) {
        for (const auto& target : *request.roleTargets) {
            Bot* bot = findBot(*this, target.botID);
            // Recorded whatever came back, so the same personality is not labelled twice.
            if (bot && bot->roleSource() == target.source.view())
                bot->roleAttemptSource = target.source;
        }
    }
    std::erase_if(jobs, [&](const PendingRequest& job) { return job.id == id; });
}

}  // namespace quorvane
