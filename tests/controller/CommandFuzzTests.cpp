// Random commands with random arguments against an account that has history and requests in
// every phase. Whatever arrives, after each command either the vault is exactly as it was and
// nothing reached the store, or the command was a valid one: it returned normally, changed only
// what that command may change (for the account the page named, within the limits), saved the
// very vault it left, and told the page last with a forced publication. Nothing may crash, and
// the vault must stay one that loads again.

#include <map>
#include <random>
#include <set>

#include <boost/json/value_to.hpp>
#include <gtest/gtest.h>

#include "CardPNGs.hpp"
#include "CommandHarness.hpp"

namespace quorvane::testing {
namespace {

namespace cards = testing::cards;

const std::vector<std::string> kCommandNames = { "connect", "openDot", "retryStorage", "theme", "appIcon", "select",
    "draft", "assignReply", "dismissReply", "openSourceMessage", "reply", "read", "send", "advanced", "saveBot",
    "archive", "restore", "clear", "cancel", "stopWaiting", "resend", "checkDelivery", "retry", "switch", "copy",
    "search", "clearSearch", "importCard", "exportCard", "export", "dismissFileIssue",
    // Names that are not commands of the dispatcher.
    "Connect", "", "ready", "windowModal", "copy " };

const std::vector<std::string> kKeys
    = { "accountID", "id", "botID", "text", "clientID", "replyTo", "replyPart", "messageID", "partID", "replies",
          "theme", "style", "name", "personality", "role", "kind", "image", "query", "png", "format" };

// The keys each command reads, so that the generator often writes what the command looks for.
const std::map<std::string, std::vector<std::string>> kShapes = {
    { "theme", { "theme" } },
    { "appIcon", { "style" } },
    { "select", { "id" } },
    { "draft", { "id", "text" } },
    { "assignReply", { "accountID", "id", "botID" } },
    { "dismissReply", { "accountID", "id" } },
    { "openSourceMessage", { "id" } },
    { "reply", { "accountID", "botID", "messageID", "partID" } },
    { "read", { "accountID", "id", "replies" } },
    { "send", { "accountID", "text", "clientID", "botID", "replyTo", "replyPart" } },
    { "saveBot", { "id", "name", "personality", "role", "kind", "image" } },
    { "archive", { "id" } },
    { "restore", { "id" } },
    { "cancel", { "id" } },
    { "stopWaiting", { "id" } },
    { "resend", { "id" } },
    { "checkDelivery", { "id" } },
    { "retry", { "id" } },
    { "switch", { "id" } },
    { "copy", { "text" } },
    { "search", { "accountID", "query", "botID" } },
    { "importCard", { "accountID", "png" } },
    { "exportCard", { "accountID", "id" } },
    { "export", { "accountID", "botID", "format" } },
};

// Commands that must never change the vault, whatever their arguments.
const std::set<std::string> kReadOnly = { "connect", "openDot", "retryStorage", "openSourceMessage", "advanced", "copy",
    "search", "clearSearch", "exportCard", "export", "dismissFileIssue" };
// Commands that act only for the account the page names.
const std::set<std::string> kGuarded
    = { "assignReply", "dismissReply", "reply", "read", "importCard", "exportCard", "export" };

class CommandFuzzTest : public CommandTest {
protected:
    std::mt19937 random { 20261210 };

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
    template <class T>
    const T& pick(const std::vector<T>& from)
    {
        return from[below(from.size())];
    }

    // Any string, but more often one that means something under `key`.
    std::string anyString(std::string_view key = {})
    {
        if (chance(50)) {
            if (key == "theme")
                return pick(std::vector<std::string> { "light", "dark", "system", "Dark" });
            if (key == "style")
                return pick(std::vector<std::string> { "quorvane", "dot", "Quorvane" });
            if (key == "format")
                return pick(std::vector<std::string> { "markdown", "json", "Markdown", "pdf" });
            if (key == "kind")
                return pick(std::vector<std::string> { "dot", "robot", "barista", "unicorn" });
            if (key == "accountID")
                return pick(controller->vault().accounts).id.str();
            if (key == "png")
                return anyCard();
            if (key == "name" || key == "personality" || key == "role" || key == "text")
                return pick(std::vector<std::string> { "Cy", "Curious and kind.", "Scout", "Hello @Ada, look" });
            if (key == "id" || key == "botID" || key == "messageID" || key == "partID" || key == "replyTo"
                || key == "replyPart") {
                std::vector<std::string> known
                    = { "dot", "p-stray", "part-1", "part-2", kAnswered + std::string("-reply") };
                for (const auto& [name, id] : names)
                    known.push_back(id);
                for (const Account& account : controller->vault().accounts)
                    known.push_back(account.id.str());
                return pick(known);
            }
        }
        switch (below(4)) {
        case 0: {
            std::string junk;
            const std::size_t length = below(24);
            for (std::size_t i = 0; i < length; ++i)
                junk.push_back(static_cast<char>(below(128)));
            return junk;
        }
        case 1:
        case 2:
            return pick(std::vector<std::string> { "", "   \n", "e\u0301\U0001F468\u200D\U0001F469\u200D\U0001F467",
                newUUID(), "5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6", "data:image/png;base64,AAAA", "dot",
                std::string("nul\0inside", 10), names.at("ada"), names.at("queued") });
        default:
            return std::string(20000 + below(5000), chance(50) ? 'x' : ' ');
        }
    }

    // Base64 of a card file: sound ones, and ones with a byte changed anywhere.
    std::string anyCard()
    {
        static const std::vector<std::string> files = {
            cards::png({ cards::ccv3(cards::v3(R"({"name":"Cy","personality":"Curious."})")) }),
            cards::png({ cards::chara(cards::v2(
                R"({"name":"Di","personality":"Calm.","extensions":{"quorvane":{"kind":"yogi","avatar":"kind"}}})")) }),
            cards::png({ cards::ccv3(cards::v3(R"({"name":"","personality":"Nameless."})")) }),
            cards::png(),
        };
        std::string file = pick(files);
        if (chance(40))
            file[below(file.size())] = static_cast<char>(below(256));
        if (chance(10))
            file.resize(below(file.size()));
        return cards::base64(file);
    }

    boost::json::value anyValue(int depth)
    {
        switch (below(depth > 0 ? 9 : 6)) {
        case 0:
            return nullptr;
        case 1:
            return chance(50);
        case 2:
            return static_cast<std::int64_t>(random()) - (1ll << 31);
        case 3:
            return std::uniform_real_distribution<double>(-1e9, 1e9)(random);
        case 4:
        case 5:
            return boost::json::value(anyString());
        case 6:
        case 7: {
            boost::json::array array;
            for (std::size_t n = below(4); n > 0; --n)
                array.push_back(anyValue(depth - 1));
            return array;
        }
        default: {
            boost::json::object object;
            for (std::size_t n = below(4); n > 0; --n)
                object[pick(kKeys)] = anyValue(depth - 1);
            return object;
        }
        }
    }

    // The read receipts of a bot's replies, as the page would send them, sometimes slightly off.
    boost::json::value receipts()
    {
        const Account& account = controller->vault().account();
        const std::string bot = chance(70) ? id("ada") : "dot";
        boost::json::array lists;
        for (const ChatMessage& message : account.messages.elements()) {
            if (message.botID != bot || message.role != MessageRole::assistant)
                continue;
            boost::json::array receipt;
            for (const Text& item : message.readReceipt())
                receipt.push_back(boost::json::value(item.view()));
            lists.push_back(receipt);
        }
        if (chance(20) && !lists.empty())
            lists.back().as_array().push_back(chance(50) ? boost::json::value("extra") : boost::json::value(1));
        return lists;
    }

    boost::json::object anyData(const std::string& command)
    {
        boost::json::object data;
        if (auto shape = kShapes.find(command); shape != kShapes.end() && chance(60))
            for (const std::string& key : shape->second)
                if (chance(80))
                    data[key] = chance(85) ? boost::json::value(anyString(key)) : anyValue(2);
        for (std::size_t n = below(4); n > 0; --n) {
            const std::string& key = pick(kKeys);
            if (key == "replies" && chance(60))
                data[key] = receipts();
            else if (chance(60))
                data[key] = anyString(key);
            else
                data[key] = anyValue(3);
        }
        // Often the account the page means, so that guarded commands get through.
        if (kGuarded.count(command) && chance(70))
            data["accountID"] = controller->vault().account().id.view();
        if (command == "read" && chance(60)) {
            data["id"] = chance(70) ? id("ada") : "dot";
            data["replies"] = receipts();
        }
        return data;
    }

    // What a valid command may have changed: nothing outside its reach, nothing beyond a limit.
    void expectWithinReach(
        const std::string& command, const boost::json::object& data, const Vault& before, const Vault& after)
    {
        EXPECT_EQ(kReadOnly.count(command), 0u) << command << " changed the vault";
        Vault reach = after;
        // Theme and icon style are closed sets in the records, so any value they hold is a valid one.
        if (command == "theme") {
            reach.theme = before.theme;
        } else if (command == "appIcon") {
            reach.appIconStyle = before.appIconStyle;
        } else if (command == "switch") {
            ASSERT_GE(after.accounts.size(), before.accounts.size());
            EXPECT_LE(after.accounts.size(), before.accounts.size() + 1);
            reach.accounts.resize(before.accounts.size());
            reach.activeAccount = before.activeAccount;
        } else {
            reach.accounts[before.index()] = before.account();
        }
        EXPECT_EQ(encoded(reach), encoded(before)) << command << " changed more than it may";

        if (kGuarded.count(command)) {
            auto accountID = data.find("accountID");
            EXPECT_TRUE(accountID != data.end() && accountID->value().is_string()
                && accountID->value().get_string() == before.activeAccount.view());
        }
        if (command == "draft") {
            auto text = data.find("text");
            EXPECT_TRUE(text == data.end() || !text->value().is_string()
                || characterCount(text->value().get_string()) <= 22000);
        }
        if (command == "importCard") {
            // One teammate more, within the roster's limits; nothing else of the account changes.
            const auto& bots = after.account().bots;
            ASSERT_EQ(bots.size(), before.account().bots.size() + 1);
            EXPECT_LE(characterCount(bots.back().name), 64u);
            EXPECT_LE(characterCount(bots.back().personality), 1800u);
            Account rest = after.account();
            rest.bots.pop_back();
            rest.selectedBot = before.account().selectedBot;
            EXPECT_EQ(boost::json::serialize(boost::json::value_from(rest)),
                boost::json::serialize(boost::json::value_from(before.account())));
        }
        if (command == "send") {
            EXPECT_TRUE(before.account().connectedOnce);
            auto clientID = data.find("clientID");
            EXPECT_TRUE(clientID == data.end() || !clientID->value().is_string()
                || canonicalUUID(clientID->value().get_string()));
        }
    }

    // A vault the store can load again, whose requests can still be told apart.
    void expectSound(const Vault& vault)
    {
        const boost::json::value json = boost::json::value_from(vault);
        EXPECT_EQ(encoded(boost::json::value_to<Vault>(json)), boost::json::serialize(json));
        EXPECT_TRUE(std::any_of(vault.accounts.begin(), vault.accounts.end(),
            [&](const Account& account) { return account.id == vault.activeAccount; }));
        for (const Account& account : vault.accounts) {
            std::set<std::string> ids;
            for (const PendingRequest& job : account.jobs)
                EXPECT_TRUE(ids.insert(job.id.str()).second) << "two requests share the id " << job.id;
        }
    }
};

TEST_F(CommandFuzzTest, RandomCommandsLeaveTheVaultAloneUnlessTheyAreValid)
{
    std::map<std::string, int> changes;
    int refusals = 0;
    int ignored = 0;
    // About 130 commands per name, so that each command's valid paths come up.
    for (int step = 0; step < 130 * int(kCommandNames.size()); ++step) {
        if (step % 40 == 0)
            restart(chance(75) ? Queue::busy : Queue::quiet);
        const std::string command = pick(kCommandNames);
        const boost::json::object data = anyData(command);
        SCOPED_TRACE(
            "step " + std::to_string(step) + ": " + command + " " + boost::json::serialize(data).substr(0, 300));

        const Vault before = controller->vault();
        const std::string beforeJSON = encoded(before);
        const int savesBefore = store->saves;
        const std::size_t offersBefore = files.offers.size();
        const CommandResult result = perform(command, data);
        const Vault& after = controller->vault();
        const bool changed = encoded(after) != beforeJSON;

        ASSERT_TRUE(controller->storageHealthy());
        if (result.error || result.publications == 0) {
            // Refused or ignored: nothing changed, nothing reached the store.
            EXPECT_FALSE(changed) << (result.error ? *result.error : "ignored");
            EXPECT_EQ(result.saves, 0);
            EXPECT_EQ(result.publications, 0);
            EXPECT_EQ(files.offers.size(), offersBefore) << "a file was offered";
            ++(result.error ? refusals : ignored);
            continue;
        }
        // A search, or taking a file's failure away, changes what the page shows and not the
        // vault, so its one publication is new rather than a repeat of the state before.
        EXPECT_TRUE(
            result.lastForced || command == "search" || command == "clearSearch" || command == "dismissFileIssue");
        if (!changed) {
            // "retryStorage" saves the vault it has, unchanged; nothing else saves without a change.
            EXPECT_EQ(result.saves, command == "retryStorage" ? 1 : 0);
            continue;
        }
        ++changes[command];
        EXPECT_EQ(result.saves, 1);
        EXPECT_EQ(store->saves, savesBefore + 1);
        EXPECT_EQ(encoded(*store->saved), encoded(after));
        expectWithinReach(command, data, before, after);
        expectSound(after);
        if (::testing::Test::HasFailure())
            break;
    }

    // The generator must reach the valid paths, or the property says little.
    std::string reached;
    for (const auto& [command, count] : changes)
        reached += command + "=" + std::to_string(count) + " ";
    SCOPED_TRACE("changes: " + reached);
    EXPECT_GE(changes.size(), 14u);
    EXPECT_GT(refusals, 300);
    EXPECT_GT(ignored, 100);
}

}  // namespace
}  // namespace quorvane::testing
