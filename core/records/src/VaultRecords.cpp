#include "quorvane/VaultRecords.hpp"

#include "quorvane/TextRules.hpp"

namespace quorvane {

std::vector<Text> ChatMessage::readReceipt() const
{
    std::vector<Text> receipt { id, text, html.value_or(Text()) };
    if (parts) {
        for (const auto& part : *parts) {
            receipt.push_back(part.id);
            receipt.push_back(part.text);
            receipt.push_back(part.html.value_or(Text()));
            if (part.attachments) {
                for (const auto& attachment : *part.attachments) {
                    receipt.push_back(attachment.id);
                    receipt.push_back(attachment.kind);
                    receipt.push_back(attachment.title);
                    receipt.push_back(attachment.url.value_or(Text()));
                }
            }
        }
    }
    return receipt;
}

const std::vector<Bot>& Bot::starters()
{
    static const std::vector<Bot> bots = [] {
        auto starter = [](const char* id, const char* name, const char* personality) {
            Bot bot;
            bot.id = id;
            bot.name = name;
            bot.kind = id;
            bot.personality = personality;
            return bot;
        };
        return std::vector<Bot> {
            starter("dot", "Dot", ""),
            starter("ceo", "CEO Dot",
                "Direct, ambitious, and a little dramatic. Challenge my ideas like a startup CEO, but keep a sense of "
                "humor. Give concise, useful advice."),
            starter("muse", "Muse",
                "Playful and imaginative. Help me find unexpected angles and creative connections. Keep it practical "
                "and concise."),
        };
    }();
    return bots;
}

std::string Bot::turnIdentityContext() const
{
    std::string block = "[Active Quorvane bot \u2014 this turn only]\nIdentify yourself as \"";
    block += name;
    block += "\". Personality reminder: ";
    block += prefixCharacters(personality, 220);
    block += "\nUse this identity for this turn; keep the primary Dot's identity and saved preferences unchanged.";
    return block;
}

}  // namespace quorvane
