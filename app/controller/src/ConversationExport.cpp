#include "quorvane/controller/ConversationExport.hpp"

#include <algorithm>
#include <ctime>
#include <vector>

#include "Sentences.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

const Bot* findBot(const Account& account, std::string_view id)
{
    for (const Bot& bot : account.bots)
        if (bot.id == id)
            return &bot;
    return nullptr;
}

std::string nameOf(const Account& account, std::string_view botID)
{
    const Bot* bot = findBot(account, botID);
    return bot ? bot->name.str() : std::string(botID);
}

// Names sit on one line of Markdown; a line break inside one would end the heading.
std::string oneLine(std::string_view text)
{
    std::string out;
    for (char c : text)
        out.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
    return out;
}

void appendQuoted(std::string& out, std::string_view text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        out += line.empty() ? ">" : "> ";
        out += line;
        out += '\n';
        start = end + 1;
    }
}

// The notes a message's heading line carries, in reading order.
std::vector<std::string_view> notesOf(const ChatMessage& message)
{
    std::vector<std::string_view> notes;
    if (message.role == MessageRole::handoff)
        notes.push_back("handoff request");
    else if (message.role == MessageRole::assistant && message.sourceBotID)
        notes.push_back("handoff copy");
    switch (message.status) {
    case MessageStatus::failed:
        notes.push_back("failed");
        break;
    case MessageStatus::unconfirmed:
        notes.push_back("stopped");
        break;
    case MessageStatus::deliveryMissing:
        notes.push_back("not delivered");
        break;
    case MessageStatus::deliveryUnknown:
        notes.push_back("delivery unknown");
        break;
    default:
        break;
    }
    return notes;
}

void appendMessage(std::string& out, const Account& account, const ChatMessage& message, const DateWriter& writeDate)
{
    if (message.role == MessageRole::event) {
        // A routing notice ("Asked Ada to help."): a line of its own, not a message.
        out += "_" + writeDate(message.date) + " · " + oneLine(trimmed(message.text)) + "_\n\n";
        return;
    }
    std::string author = message.role == MessageRole::user
        ? std::string("You")
        : nameOf(account, message.sourceBotID ? message.sourceBotID->view() : message.botID.view());
    out += "**" + oneLine(author) + "** · " + writeDate(message.date);
    for (std::string_view note : notesOf(message)) {
        out += " · _";
        out += note;
        out += '_';
    }
    out += "\n\n";
    if (message.quotedReply) {
        appendQuoted(out, oneLine(message.quotedReply->author.view()) + ": " + message.quotedReply->text.str());
        out += '\n';
    }
    std::vector<std::string_view> blocks;
    if (message.parts && !message.parts->empty()) {
        for (const ReplyPart& part : message.parts->elements())
            blocks.push_back(part.text.view());
    } else {
        blocks.push_back(message.text.view());
    }
    for (std::string_view block : blocks) {
        std::string_view text = trimmed(block);
        if (text.empty())
            continue;
        out += text;
        out += "\n\n";
    }
}

void appendConversation(std::string& out, const Account& account, std::string_view botID, std::string_view heading,
    const DateWriter& writeDate)
{
    out += "## " + oneLine(heading) + "\n\n";
    bool any = false;
    for (const ChatMessage& message : account.messages.elements()) {
        if (message.botID != botID)
            continue;
        appendMessage(out, account, message, writeDate);
        any = true;
    }
    if (!any)
        out += "_No messages._\n\n";
}

std::string accountTitle(const Account& account)
{
    std::string label = oneLine(trimmed(account.label.view()));
    return label.empty() ? std::string("Quorvane") : label;
}

}  // namespace

std::string localDateText(Date date)
{
    const std::time_t seconds = static_cast<std::time_t>(unixSecondsFromDate(date));
    std::tm local {};
    if (!localtime_r(&seconds, &local))
        return iso8601(date);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return std::string(text, length);
}

std::string exportMarkdown(
    const Account& account, const std::optional<Text>& botID, Date exported, const DateWriter& writeDate)
{
    std::string out = "# " + accountTitle(account) + "\n\nExported from Quorvane on " + writeDate(exported) + ".\n\n";
    if (botID) {
        if (const Bot* bot = findBot(account, *botID))
            appendConversation(out, account, bot->id.view(), bot->name.view(), writeDate);
    } else {
        for (const Bot& bot : account.bots) {
            std::string heading = bot.name.str();
            if (bot.archived)
                heading += " (archived)";
            appendConversation(out, account, bot.id.view(), heading, writeDate);
        }
        // Messages whose bot the crew no longer lists are still the user's history.
        std::vector<std::string_view> others;
        for (const ChatMessage& message : account.messages.elements())
            if (!findBot(account, message.botID.view())
                && std::find(others.begin(), others.end(), message.botID.view()) == others.end())
                others.push_back(message.botID.view());
        for (std::string_view other : others)
            appendConversation(out, account, other, other, writeDate);
    }
    while (out.size() > 1 && out.ends_with("\n\n"))
        out.pop_back();
    return out;
}

std::string exportJSON(const Account& account, const std::optional<Text>& botID)
{
    std::vector<Bot> bots;
    std::vector<ChatMessage> messages;
    for (const Bot& bot : account.bots)
        if (!botID || bot.id == *botID)
            bots.push_back(bot);
    for (const ChatMessage& message : account.messages.elements())
        if (!botID || message.botID == *botID)
            messages.push_back(message);
    std::string compact = "{\"bots\":";
    appendJSON(compact, bots);
    compact += ",\"messages\":";
    appendJSON(compact, messages);
    compact += '}';
    return indentedJSON(compact) + "\n";
}

std::string indentedJSON(std::string_view compact)
{
    std::string out;
    out.reserve(compact.size() + compact.size() / 4);
    int depth = 0;
    auto newline = [&] {
        out += '\n';
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
    };
    for (std::size_t i = 0; i < compact.size(); ++i) {
        const char c = compact[i];
        if (c == '"') {
            // Copy the whole string, escapes included.
            std::size_t end = i + 1;
            while (end < compact.size() && compact[end] != '"')
                end += compact[end] == '\\' ? 2 : 1;
            out.append(compact.substr(i, end - i + 1));
            i = end;
            continue;
        }
        switch (c) {
        case '{':
        case '[':
            out += c;
            if (i + 1 < compact.size() && (compact[i + 1] == '}' || compact[i + 1] == ']')) {
                out += compact[++i];
                break;
            }
            ++depth;
            newline();
            break;
        case '}':
        case ']':
            --depth;
            newline();
            out += c;
            break;
        case ',':
            out += c;
            newline();
            break;
        case ':':
            out += ": ";
            break;
        case ' ':
        case '\n':
        case '\r':
        case '\t':
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string fileNameStem(std::string_view name)
{
    std::string stem;
    for (char c : trimmed(name)) {
        const auto byte = static_cast<unsigned char>(c);
        stem.push_back(c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f ? '-' : c);
    }
    while (!stem.empty() && (stem.front() == '.' || stem.front() == '-' || stem.front() == ' '))
        stem.erase(stem.begin());
    stem = std::string(prefixCharacters(stem, 80));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.'))
        stem.pop_back();
    return stem.empty() ? std::string("Quorvane") : stem;
}

FileOffer exportOffer(const Account& account, const std::optional<Text>& botID, ExportFormat format, Date exported,
    const DateWriter& writeDate)
{
    const Bot* bot = botID ? findBot(account, *botID) : nullptr;
    const std::string day = writeDate(exported).substr(0, 10);
    const std::string stem = fileNameStem(bot ? bot->name.view() : account.label.view()) + " " + day;
    FileOffer offer;
    offer.title = botID ? sentences::exportConversation : sentences::exportAllConversations;
    offer.notice = sentences::exportNotEncrypted;
    if (format == ExportFormat::markdown) {
        offer.suggestedName = stem + ".md";
        offer.mimeType = "text/markdown";
        offer.bytes = exportMarkdown(account, botID, exported, writeDate);
    } else {
        offer.suggestedName = stem + ".json";
        offer.mimeType = "application/json";
        offer.bytes = exportJSON(account, botID);
    }
    return offer;
}

}  // namespace quorvane
