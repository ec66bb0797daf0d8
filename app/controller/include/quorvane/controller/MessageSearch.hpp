#pragma once

// Finding messages in an account's history by what they say.
//
// Matching ignores case and accents: the message's visible text (its text and the text of each
// reply part) and the query are both reduced to a search form (canonical decomposition, the
// combining marks dropped, full Unicode case folding, so "CAFE" finds "café" and "strasse" finds
// "Straße"). The query is split at white space, and a message matches when its search form holds
// every word. Results come newest first; the search stops at the limit and says whether there
// were more. It runs over the account it is given, not over what the page happens to hold.
//
// Reducing text is the costly part, so the search form of each text is kept between searches,
// keyed by the text's storage (messages are immutable values whose texts are shared, so an
// unchanged message is found again by pointer) and holding on to that storage, so a key can
// never be taken by another text. Forms of texts that have left the account are dropped once
// they add up to a third of what is kept. The kept forms take about as much memory as the visible text they stand for,
// and only once the user has searched.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorvane/Account.hpp"
#include "quorvane/Json.hpp"

namespace quorvane {

struct SearchHit {
    Text messageID {};
    Text botID {};
    Date date = 0;
    Text snippet {};  // a line of the visible text around the first match, "…" where it is cut

    bool operator==(const SearchHit&) const = default;
};
BOOST_DESCRIBE_STRUCT(SearchHit, (), (messageID, botID, date, snippet))

struct SearchResults {
    Text query {};
    std::optional<Text> botID {};  // the conversation searched; absent: every bot of the account
    std::vector<SearchHit> hits {};  // newest first
    bool more = false;  // further messages match beyond the limit

    bool operator==(const SearchResults&) const = default;
};
BOOST_DESCRIBE_STRUCT(SearchResults, (), (query, botID, hits, more))

// The search form of a text (see above), as UTF-8. Exposed for tests and for the page's
// highlighting rules to agree with.
std::string searchForm(std::string_view text);
// Whether a query has any word to look for (white space and lone accents have none).
bool hasSearchWords(std::string_view query);

class MessageSearch {
public:
    static constexpr std::size_t kDefaultLimit = 50;

    // Messages of `account` (of bot `botID` only, when given) whose visible text holds every
    // word of `query`. A query without words finds nothing.
    SearchResults find(const Account& account, std::string_view query, const std::optional<Text>& botID,
        std::size_t limit = kDefaultLimit);

private:
    struct Entry {
        Text text;  // holds the storage the key points into
        std::string form;
        bool seen = false;
    };
    const std::string& formOf(const Text& text);
    void forgetLeftTexts(const Account& account);

    std::unordered_map<const char*, Entry> forms_;
};

}  // namespace quorvane
