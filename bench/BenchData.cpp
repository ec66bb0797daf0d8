#include "BenchData.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "quorvane/Json.hpp"
#include "quorvane/PageRecords.hpp"
#include "quorvane/RequestRecords.hpp"

namespace quorvane::bench {

namespace {

// A deterministic id in the upper-case UUID form the app makes.
std::string uuid(std::size_t n, std::size_t salt)
{
    char buffer[40];
    unsigned long long x = (n + 1) * 0x9E3779B97F4A7C15ull ^ (salt * 0xC2B2AE3D27D4EB4Full);
    std::snprintf(buffer, sizeof buffer, "%08llX-%04llX-4%03llX-8%03llX-%012llX", x >> 32, (x >> 16) & 0xFFFF,
        x & 0xFFF, (x >> 20) & 0xFFF, (x * 31) & 0xFFFFFFFFFFFFull);
    return buffer;
}

std::string replyToken(std::size_t n)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%012llx", ((n + 7) * 0x9E3779B97F4A7C15ull) & 0xFFFFFFFFFFFFull);
    return buffer;
}

// The nearest place at or before `at` where a UTF-8 character begins.
std::size_t characterBoundary(std::string_view text, std::size_t at)
{
    at = std::min(at, text.size());
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

}  // namespace

std::string prose(std::size_t length, std::size_t seed)
{
    static const char* const words[] = { "the", "crew", "answers", "quickly", "while", "Dot", "keeps", "notes", "about",
        "every", "\"handoff\"", "and", "reply", "\xE2\x80\x94", "caf\xC3\xA9", "plan", "ships", "today", "path/to/file",
        "\xE2\x80\x9Cquoted\xE2\x80\x9D", "numbers:", "42", "na\xC3\xAFve", "\xE6\x9D\xB1\xE4\xBA\xAC", "summary",
        "a" };
    std::string out;
    out.reserve(length + 16);
    std::size_t i = seed;
    while (out.size() < length) {
        out += words[i++ % (sizeof words / sizeof *words)];
        out += (i % 17 == 0) ? ".\n" : " ";
    }
    out.resize(length);
    // Cutting may split a character; end on a whole one, as real text does.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
        out.pop_back();
    if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0)
        out.pop_back();
    return out;
}

Vault makeVault(std::size_t messages)
{
    Vault vault = Vault::fresh();
    Account& account = vault.account();
    account.dotURL = "https://dot.example/dots/0123ABCD-4567-89EF-0123-456789ABCDEF";
    for (const char* id : { "B1", "B2" }) {
        Bot bot;
        bot.id = id;
        bot.name = std::string("Teammate ") + id;
        bot.kind = "coder";
        bot.personality = prose(600, 7);
        account.bots.push_back(bot);
    }
    static const char* const botIDs[] = { "dot", "B1", "B2" };
    account.messages.reserve(messages);
    for (std::size_t n = 0; n < messages; ++n) {
        ChatMessage message;
        message.id = uuid(n, 1) + "-reply";
        message.botID = botIDs[n % 3];
        message.role = MessageRole::assistant;
        message.text = prose(2000, n);
        message.date = 786000000.0 + static_cast<double>(n) * 37.25;
        message.status = MessageStatus::sent;
        message.html = "<div class=\"reply\"><p>" + prose(2580, n + 1) + "</p></div>";
        ReplyPart part;
        part.id = uuid(n, 2);
        part.text = prose(1000, n + 2);
        part.html = "<p>" + prose(1400, n + 3) + "</p>";
        part.date = message.date;
        message.parts = std::vector<ReplyPart> { part };
        account.messages.push_back(std::move(message));
    }
    return vault;
}

std::string snapshotJSON(std::size_t messages)
{
    static const char* const names[] = { "Dot", "Teammate B1", "Teammate B2" };
    DotSnapshot snapshot;
    snapshot.url = "https://dot.example/dots/0123ABCD-4567-89EF-0123-456789ABCDEF";
    snapshot.ready = true;
    snapshot.busy = false;
    snapshot.reason = "";
    snapshot.draft = "";
    snapshot.avatarURL = "https://dot.example/static/avatars/dot-512.png";
    snapshot.profileName = "Dot";
    snapshot.requiresSignIn = false;
    snapshot.blockedByDialog = false;
    snapshot.messages.reserve(messages);
    for (std::size_t n = 0; snapshot.messages.size() < messages; ++n) {
        const std::size_t turn = n / 2;
        DotMessage message;
        if (n % 2 == 0) {
            // Our request as the page shows it back: the envelope, then the user's words.
            message.id = "msg-u-" + std::to_string(turn);
            message.role = "user";
            std::string text = "[Quorvane request " + uuid(turn, 3) + "]\n[Conversation: " + names[turn % 3] + "]\n";
            if (turn % 5 != 4)
                text += "[Reply tag: [qv:" + replyToken(turn) + "]]\n";
            if (turn % 3 != 0)
                text += std::string("For this turn you are ") + names[turn % 3] + ", a teammate in Dot's crew.\n";
            text += turn % 4 == 0 ? "Answer directly; do not hand off this turn.\n"
                                  : "Handoffs allowed using this request ID.\n";
            text += "[User message]\n" + prose(120 + (turn * 37) % 700, turn);
            message.text = text;
            if (turn % 25 == 0) {
                MessageAttachment file;
                file.id = "att-u-" + std::to_string(turn);
                file.kind = "file";
                file.title = "notes-" + std::to_string(turn) + ".pdf";
                message.attachments = std::vector<MessageAttachment> { file };
            }
        } else {
            // A reply: the tag on its own line, then the answer, with the page's HTML of it.
            message.id = "msg-a-" + std::to_string(turn);
            message.role = "assistant";
            std::string body = prose(600 + (turn * 131) % 2400, turn + 11);
            std::string tag = turn % 5 != 4 ? "[qv:" + replyToken(turn) + "]" : "";
            message.text = tag.empty() ? body : tag + "\n" + body;
            std::string html = tag.empty() ? "" : "<p>" + tag + "</p>";
            const std::size_t listStart = characterBoundary(body, body.size() / 2);
            const std::size_t listEnd = characterBoundary(body, listStart + 40);
            html += "<div class=\"markdown prose\"><p>" + body.substr(0, listStart) + "</p><ul><li><code>"
                + body.substr(listStart, listEnd - listStart) + "</code></li></ul><p>" + body.substr(listEnd)
                + "</p></div>";
            message.html = html;
            if (turn % 10 == 3) {
                MessageAttachment image;
                image.id = "att-a-" + std::to_string(turn);
                image.kind = "image";
                image.title = "chart-" + std::to_string(turn) + ".png";
                image.url = "https://files.dot.example/u/" + uuid(turn, 4) + "/chart.png?sig=" + replyToken(turn * 3);
                message.attachments = std::vector<MessageAttachment> { image };
            }
        }
        snapshot.messages.push_back(message);
        // Now and then the page shows one message twice while a reply grows; the later reading
        // holds more text.
        if (n % 250 == 249 && snapshot.messages.size() < messages) {
            message.text = message.text.str() + "\n" + prose(200, n);
            snapshot.messages.push_back(std::move(message));
        }
    }
    return encodeJSON(snapshot);
}

std::string watchedToken(std::size_t n)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%012zx", 0xa00000000000 + n * 7919);
    return buffer;
}

WatchedConversation makeWatchedConversation(std::size_t requests, std::size_t localMessages)
{
    WatchedConversation s;
    s.account = makeVault(localMessages - 2 * requests).account();
    static const char* const bots[] = { "dot", "B1", "B2" };
    s.account.replyWatches.emplace();
    for (std::size_t n = 0; n < requests; ++n) {
        const std::string id = "REQ-" + std::to_string(n);
        const std::string tag = "[qv:" + watchedToken(n) + "]";
        PendingRequest job;
        job.id = id;
        job.botID = bots[n % 3];
        job.replyToken = watchedToken(n);
        job.payload = "[Quorvane request " + id + "]\n[Conversation: Dot]\n[Reply tag: " + tag + "]\n"
            + "Answer directly; do not hand off this turn.\n[User message]\n" + prose(300, n);
        // Each request's baseline holds the page ids shown when it was sent, as separate
        // strings, as after a load.
        std::vector<Text> baseline;
        baseline.reserve(s.page.size());
        for (const auto& shown : s.page)
            baseline.emplace_back(shown.id.view());
        job.baseline = CowVector<Text>(std::move(baseline));
        job.phase = JobPhase::waiting;
        job.submitted = 1000.0 + static_cast<double>(n);

        DotMessage turn { "turn-" + std::to_string(n), "user", job.payload, std::nullopt, std::nullopt };
        std::string answer = prose(600, n + 1);
        DotMessage reply { "reply-" + std::to_string(n), "assistant", tag + "\n" + answer,
            "<p>" + tag + "</p><p>" + answer + "</p>", std::nullopt };
        s.page.push_back(turn);
        s.page.push_back(reply);
        job.userMessageID = turn.id;

        ChatMessage user { id, job.botID, MessageRole::user, prose(300, n), job.submitted.value(),
            MessageStatus::sent };
        s.account.messages.push_back(user);
        s.account.replyWatches->push_back(ReplyWatch { job, { reply.id }, false });
    }
    // File every reply once, as the run loop did when each was accepted.
    s.account.applyPageChange(s.page, 5000);
    return s;
}

}  // namespace quorvane::bench
