#include "BenchData.hpp"

#include <string>

namespace quorvane::bench {

std::string prose(std::size_t length, std::size_t seed)
{
    static const char* const words[] = { "the", "crew", "answers", "quickly", "while", "Dot", "keeps", "notes",
        "about", "every", "handoff", "and", "reply", "\xE2\x80\x94", "caf\xC3\xA9", "plan", "ships", "today" };
    std::string out;
    out.reserve(length + 16);
    std::size_t i = seed;
    while (out.size() < length) {
        out += words[i++ % (sizeof words / sizeof *words)];
        out += (i % 17 == 0) ? ".\n" : " ";
    }
    out.resize(length);
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
        std::string id = "R" + std::to_string(n) + "-reply";
        ChatMessage message;
        message.id = id;
        message.botID = botIDs[n % 3];
        message.role = "assistant";
        message.text = prose(2000, n);
        message.date = 786000000.0 + static_cast<double>(n);
        message.status = "sent";
        message.html = "<p>" + prose(2600, n + 1) + "</p>";
        ReplyPart part;
        part.id = "page-" + std::to_string(n);
        part.text = prose(1000, n + 2);
        part.html = "<p>" + prose(1400, n + 3) + "</p>";
        part.date = message.date;
        message.parts = std::vector<ReplyPart> { part };
        account.messages.push_back(std::move(message));
    }
    return vault;
}

} // namespace quorvane::bench
