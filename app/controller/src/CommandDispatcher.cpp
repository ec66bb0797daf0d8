// The command dispatcher: every change the interface page asks for arrives here as a command
// name and its arguments.
//
// Each command first checks what it can without touching storage (argument types and lengths,
// the account the page meant, whether the command still applies), then changes the vault only
// through transaction(), which saves before it commits and refuses while storage is unhealthy.
// So a refused or ignored command never reaches the store. Three outcomes:
//   - carried out: returns, and perform() publishes the state forced, so the page hears back
//     even when nothing changed;
//   - ignored (the command no longer applies: another account, a stale read, a repeated send,
//     an unknown value): returns without a change and without a publication;
//   - refused: throws the sentence the page shows, and nothing changes.
//
// The commands are matched exactly, in the order of kCommands. The arguments are read with
// CommandArguments: a key whose value has another type than the command expects is absent.
// "assignReply", "dismissReply", "reply", "read", "search" and "export" carry "accountID" and are
// ignored unless it names the active account, so a command the page issued before a switch never
// lands in the account that replaced it ("send" refuses instead, so that the user knows to send
// again).

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CardBots.hpp"
#include "CommandArguments.hpp"
#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Base64.hpp"
#include "quorvane/CharacterCard.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/controller/ConversationExport.hpp"

namespace quorvane {

namespace {

enum class Outcome { done, ignored };

constexpr std::size_t kDraftLimit = 22000;  // characters
constexpr std::size_t kSearchLimit = 500;  // characters of a search query

bool forActiveAccount(const Controller& controller, const CommandArguments& arguments)
{
    auto accountID = arguments.string("accountID");
    return accountID && *accountID == controller.vault().account().id;
}

// The first job with this id, or null; const or not as the list is.
template <class Jobs>
auto firstJob(Jobs& jobs, std::string_view id) -> decltype(&jobs.front())
{
    auto found = std::find_if(jobs.begin(), jobs.end(), [&](const PendingRequest& job) { return job.id == id; });
    return found == jobs.end() ? nullptr : &*found;
}

const Bot* findBot(const Account& account, std::string_view id)
{
    auto found = std::find_if(account.bots.begin(), account.bots.end(), [&](const Bot& bot) { return bot.id == id; });
    return found == account.bots.end() ? nullptr : &*found;
}

bool hasMessage(const Account& account, std::string_view id)
{
    const auto& messages = account.messages.elements();
    return std::any_of(messages.begin(), messages.end(), [&](const ChatMessage& m) { return m.id == id; });
}

bool hasUnassignedReply(const Account& account, std::string_view id)
{
    return account.unassignedReplies
        && std::any_of(account.unassignedReplies->begin(), account.unassignedReplies->end(),
            [&](const UnassignedReply& reply) { return reply.id == id; });
}

// A page message that the Dot window can scroll to: a part of a filed reply, or a reply that
// waits to be assigned.
bool isKnownPageMessage(const Account& account, std::string_view id)
{
    for (const ChatMessage& message : account.messages.elements())
        if (message.parts)
            for (const ReplyPart& part : message.parts->elements())
                if (part.id == id)
                    return true;
    return hasUnassignedReply(account, id);
}

bool isStoppable(JobPhase phase)
{
    return phase == JobPhase::waiting || phase == JobPhase::delayed || phase == JobPhase::uncertain
        || phase == JobPhase::composing;
}

// The bot's replies in stored order: what the user has read of them.
std::vector<const ChatMessage*> repliesOf(const Account& account, std::string_view botID)
{
    std::vector<const ChatMessage*> replies;
    for (const ChatMessage& message : account.messages.elements())
        if (message.botID == botID && message.role == MessageRole::assistant)
            replies.push_back(&message);
    return replies;
}

// ---- The commands, in table order ------------------------------------------------------------

Outcome connect(Controller& controller, const CommandArguments&)
{
    controller.connect();
    return Outcome::done;
}

Outcome openDot(Controller& controller, const CommandArguments&)
{
    controller.showDot();
    return Outcome::done;
}

Outcome retryStorage(Controller& controller, const CommandArguments&)
{
    controller.retryStorage();
    return Outcome::done;
}

Outcome theme(Controller& controller, const CommandArguments& arguments)
{
    const std::optional<Theme> theme = fromString<Theme>(arguments.string("theme", "light").view());
    if (!theme)
        return Outcome::ignored;
    controller.transaction([&](Vault& vault) { vault.theme = *theme; });
    return Outcome::done;
}

Outcome appIcon(Controller& controller, const CommandArguments& arguments)
{
    const auto name = arguments.string("style");
    const std::optional<AppIconStyle> style = name ? fromString<AppIconStyle>(name->view()) : std::nullopt;
    if (!style)
        return Outcome::ignored;
    controller.transaction([&](Vault& vault) { vault.appIconStyle = *style; });
    return Outcome::done;
}

Outcome select(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        const Bot* bot = findBot(account, id);
        if (!bot || bot->archived)
            throw AppFailure(sentences::chooseActiveDot);
        account.selectedBot = id;
    });
    return Outcome::done;
}

Outcome draft(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    const Text text = arguments.string("text", "");
    if (characterCount(text) > kDraftLimit)
        throw AppFailure(sentences::shortenDraft);
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        // An emptied draft stays as an empty entry, as sending leaves it.
        if (findBot(account, id))
            account.drafts[id.str()] = text;
    });
    return Outcome::done;
}

Outcome assignReply(Controller& controller, const CommandArguments& arguments)
{
    const auto id = arguments.string("id");
    const auto botID = arguments.string("botID");
    if (!forActiveAccount(controller, arguments) || !id || !botID)
        return Outcome::ignored;
    controller.transaction([&](Vault& vault) { vault.account().assignRemoteReply(*id, *botID); });
    return Outcome::done;
}

Outcome dismissReply(Controller& controller, const CommandArguments& arguments)
{
    const auto id = arguments.string("id");
    if (!forActiveAccount(controller, arguments) || !id)
        return Outcome::ignored;
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        if (!hasUnassignedReply(account, *id))
            return;
        if (!account.ignoredRemoteReplyIDs)
            account.ignoredRemoteReplyIDs.emplace();
        account.ignoredRemoteReplyIDs->push_back(*id);
        std::erase_if(*account.unassignedReplies, [&](const UnassignedReply& reply) { return reply.id == *id; });
    });
    return Outcome::done;
}

Outcome openSourceMessage(Controller& controller, const CommandArguments& arguments)
{
    const auto id = arguments.string("id");
    const Account& account = controller.vault().account();
    if (!id || !isKnownPageMessage(account, *id))
        return Outcome::ignored;
    controller.browser().showMessage(id->str(), account.dotURL.str());
    return Outcome::done;
}

Outcome reply(Controller& controller, const CommandArguments& arguments)
{
    const auto botID = arguments.string("botID");
    if (!forActiveAccount(controller, arguments) || !botID)
        return Outcome::ignored;
    const auto messageID = arguments.string("messageID");
    const auto partID = arguments.string("partID");
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        if (!account.draftReplies)
            account.draftReplies.emplace();
        if (messageID)
            (*account.draftReplies)[botID->str()] = account.quotedMessage(*messageID, partID, *botID);
        else
            account.draftReplies->erase(botID->str());
    });
    return Outcome::done;
}

Outcome read(Controller& controller, const CommandArguments& arguments)
{
    const auto botID = arguments.string("id");
    const auto receipts = arguments.stringLists("replies");
    if (!forActiveAccount(controller, arguments) || !botID || !receipts)
        return Outcome::ignored;
    const Account& account = controller.vault().account();
    if (!account.unreadBots
        || std::find(account.unreadBots->begin(), account.unreadBots->end(), *botID) == account.unreadBots->end())
        return Outcome::ignored;

    // The page must have seen exactly what is stored now; a reply that grew meanwhile stays unread.
    const auto replies = repliesOf(account, *botID);
    if (replies.size() != receipts->size())
        return Outcome::ignored;
    for (std::size_t i = 0; i < replies.size(); ++i)
        if (replies[i]->readReceipt() != (*receipts)[i])
            return Outcome::ignored;

    std::vector<Text> readList;
    for (const ChatMessage* message : replies) {
        if (message->parts && !message->parts->empty()) {
            for (const ReplyPart& part : message->parts->elements())
                readList.push_back(part.id);
        } else {
            readList.push_back(message->id);
        }
    }
    controller.transaction([&](Vault& vault) {
        Account& changed = vault.account();
        if (!changed.readReplyIDs)
            changed.readReplyIDs.emplace();
        (*changed.readReplyIDs)[botID->str()] = readList;
        std::erase(*changed.unreadBots, *botID);
    });
    return Outcome::done;
}

Outcome send(Controller& controller, const CommandArguments& arguments)
{
    const Account& account = controller.vault().account();
    if (!account.connectedOnce)
        throw AppFailure(sentences::connectFirst);
    if (auto accountID = arguments.string("accountID"); accountID && *accountID != account.id)
        throw AppFailure(sentences::connectionChanged);
    const Text clientID = arguments.string("clientID").value_or(Text(newUUID()));
    if (!canonicalUUID(clientID))
        throw AppFailure(sentences::messageNotSaved);
    // A send the page repeats (a retry after a lost answer) is already queued. A job without its
    // message counts too: two requests under one id could never be told apart again.
    if (hasMessage(account, clientID) || firstJob(account.jobs, clientID))
        return Outcome::ignored;
    const Text text = arguments.string("text", "");
    const auto botID = arguments.string("botID");
    const auto replyTo = arguments.string("replyTo");
    const auto replyPart = arguments.string("replyPart");
    controller.transaction([&](Vault& vault) {
        vault.account().enqueue(text, clientID, false, botID, replyTo, replyPart, controller.now());
    });
    return Outcome::done;
}

Outcome advanced(Controller&, const CommandArguments&) { throw AppFailure(sentences::attachmentsUnsupported); }

Outcome saveBot(Controller& controller, const CommandArguments& arguments)
{
    const BotEdit edit {
        .id = arguments.string("id"),
        .name = arguments.string("name", ""),
        .personality = arguments.string("personality", ""),
        .role = arguments.string("role"),
        .kind = arguments.string("kind"),
        .image = arguments.string("image"),
    };
    controller.transaction([&](Vault& vault) { vault.account().saveBot(edit); });
    return Outcome::done;
}

// The card arrives as Base64 of the file's bytes. Its size is checked on the text, before
// anything is decoded; text that is not Base64 is no file the page read, so no PNG either.
Outcome importCard(Controller& controller, const CommandArguments& arguments)
{
    if (!forActiveAccount(controller, arguments))
        return Outcome::ignored;
    const Text text = arguments.string("png", "");
    if (text.size() / 4 * 3 > kCardFileByteLimit + 2)
        throw AppFailure(cardSentences::tooLarge);
    const std::optional<std::string> png = decodeBase64(text);
    if (!png)
        throw AppFailure(cardSentences::notPNG);
    const BotEdit edit = botEditFromCard(*png);
    controller.transaction([&](Vault& vault) { vault.account().saveBot(edit); });
    return Outcome::done;
}

// Carried out once the card is offered; where it is saved is the user's answer to the dialog,
// which arrives later (Controller::offerFile).
Outcome exportCard(Controller& controller, const CommandArguments& arguments)
{
    const auto id = arguments.string("id");
    if (!forActiveAccount(controller, arguments) || !id)
        return Outcome::ignored;
    const Bot* bot = findBot(controller.vault().account(), *id);
    if (!bot)
        return Outcome::ignored;
    if (bot->id == kPrimaryBotID)
        throw AppFailure(sentences::primaryNotExported);
    // A file name holds no folders: a "/" in the bot's name would name one.
    std::string fileName = bot->name.str();
    std::replace(fileName.begin(), fileName.end(), '/', '-');
    controller.offerFile(FileOffer {
        .title = "Export Character Card",
        .suggestedName = fileName + ".png",
        .mimeType = "image/png",
        .notice = "",
        .bytes = cardOfBot(*bot),
    });
    return Outcome::done;
}

Outcome archive(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) { vault.account().archive(id); });
    return Outcome::done;
}

Outcome restore(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) { vault.account().restore(id); });
    return Outcome::done;
}

Outcome clear(Controller& controller, const CommandArguments&)
{
    if (!controller.vault().account().jobs.empty())
        throw AppFailure(sentences::waitBeforeClearing);
    controller.transaction([](Vault& vault) { vault.account().clearHistory(); });
    return Outcome::done;
}

Outcome cancel(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) { vault.account().cancelQueued(id); });
    return Outcome::done;
}

// Needs no storage to be accepted: the request is queued, and applied at once only when no
// turn is working on it (otherwise the turn applies it when it ends).
Outcome stopWaiting(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    const auto& jobs = controller.vault().account().jobs;
    if (std::none_of(
            jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == id && isStoppable(j.phase); }))
        throw AppFailure(sentences::replyFinished);
    controller.stopRequests.insert(id.str());
    if (!controller.busy)
        controller.finishStopRequests();
    return Outcome::done;
}

Outcome resend(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) { vault.account().retryUnconfirmed(id); });
    return Outcome::done;
}

Outcome checkDelivery(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        PendingRequest* job = firstJob(account.jobs, id);
        if (!job || job->phase != JobPhase::uncertain)
            return;
        job->deliveryChecks = 0;
        job->lastDeliveryCheck.reset();
        job->note = sentences::checkingDelivery;
    });
    return Outcome::done;
}

Outcome retry(Controller& controller, const CommandArguments& arguments)
{
    const Text id = arguments.string("id", "");
    const PendingRequest* job = firstJob(controller.vault().account().jobs, id);
    if (!job || job->phase != JobPhase::failed)
        throw AppFailure(sentences::mightAlreadyBeInDot);
    controller.transaction([&](Vault& vault) {
        Account& account = vault.account();
        PendingRequest* retried = firstJob(account.jobs, id);
        retried->phase = JobPhase::queued;
        retried->attempts = 0;
        retried->nextAttempt.reset();
        retried->note = Text();
        account.setStatus(id, MessageStatus::queued);
    });
    return Outcome::done;
}

Outcome switchAccount(Controller& controller, const CommandArguments& arguments)
{
    const auto id = arguments.string("id");
    controller.switchAccount(id ? std::optional<std::string>(id->str()) : std::nullopt);
    return Outcome::done;
}

Outcome copy(Controller& controller, const CommandArguments& arguments)
{
    if (auto text = arguments.string("text"))
        controller.pasteboard().putPlainText(*text);
    return Outcome::done;
}

// Search reads the history and changes nothing in it, so it works while storage is unhealthy.
// A query without words takes the results away, as "clearSearch" does.
Outcome search(Controller& controller, const CommandArguments& arguments)
{
    const auto query = arguments.string("query");
    if (!forActiveAccount(controller, arguments) || !query || characterCount(*query) > kSearchLimit)
        return Outcome::ignored;
    const Account& account = controller.vault().account();
    const std::optional<Text> botID = arguments.string("botID");  // absent: every bot of the account
    if (botID && !findBot(account, *botID))
        return Outcome::ignored;
    if (!hasSearchWords(*query)) {
        if (!controller.search)
            return Outcome::ignored;
        controller.search.reset();
        return Outcome::done;
    }
    controller.search = controller.searcher.find(account, *query, botID);
    return Outcome::done;
}

Outcome clearSearch(Controller& controller, const CommandArguments&)
{
    if (!controller.search)
        return Outcome::ignored;
    controller.search.reset();
    return Outcome::done;
}

// Export reads the history and changes nothing in it, so, like search, it works while storage
// is unhealthy: a copy of the history is then all the more worth having. The file goes to the
// user's save dialog; its outcome arrives later (Controller::offerFile).
Outcome exportHistory(Controller& controller, const CommandArguments& arguments)
{
    const auto formatName = arguments.string("format");
    if (!forActiveAccount(controller, arguments) || !formatName)
        return Outcome::ignored;
    std::optional<ExportFormat> format;
    if (*formatName == "markdown")
        format = ExportFormat::markdown;
    else if (*formatName == "json")
        format = ExportFormat::json;
    if (!format)
        return Outcome::ignored;
    const Account& account = controller.vault().account();
    const std::optional<Text> botID = arguments.string("botID");  // absent: the whole account
    if (botID && !findBot(account, *botID))
        return Outcome::ignored;
    controller.offerFile(exportOffer(account, botID, *format, controller.now()));
    return Outcome::done;
}

Outcome dismissFileIssue(Controller& controller, const CommandArguments&)
{
    if (controller.fileIssue.empty())
        return Outcome::ignored;
    controller.fileIssue.clear();
    return Outcome::done;
}

struct Command {
    std::string_view name;
    Outcome (*run)(Controller&, const CommandArguments&);
};

constexpr std::array kCommands {
    Command { "connect", connect },
    Command { "openDot", openDot },
    Command { "retryStorage", retryStorage },
    Command { "theme", theme },
    Command { "appIcon", appIcon },
    Command { "select", select },
    Command { "draft", draft },
    Command { "assignReply", assignReply },
    Command { "dismissReply", dismissReply },
    Command { "openSourceMessage", openSourceMessage },
    Command { "reply", reply },
    Command { "read", read },
    Command { "send", send },
    Command { "advanced", advanced },
    Command { "saveBot", saveBot },
    Command { "importCard", importCard },
    Command { "exportCard", exportCard },
    Command { "archive", archive },
    Command { "restore", restore },
    Command { "clear", clear },
    Command { "cancel", cancel },
    Command { "stopWaiting", stopWaiting },
    Command { "resend", resend },
    Command { "checkDelivery", checkDelivery },
    Command { "retry", retry },
    Command { "switch", switchAccount },
    Command { "copy", copy },
    Command { "search", search },
    Command { "clearSearch", clearSearch },
    Command { "export", exportHistory },
    Command { "dismissFileIssue", dismissFileIssue },
};

}  // namespace

void Controller::perform(std::string_view command, const boost::json::object& data)
{
    const CommandArguments arguments(data);
    for (const Command& entry : kCommands) {
        if (entry.name != command)
            continue;
        if (entry.run(*this, arguments) == Outcome::done)
            publish(true);
        return;
    }
    throw AppFailure(sentences::actionUnavailable);
}

}  // namespace quorvane
