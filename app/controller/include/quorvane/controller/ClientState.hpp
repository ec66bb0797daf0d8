#pragma once

// ClientState: everything the interface page shows, pushed to it whole after every change that
// matters (the shell sends only what changed underneath, but the page always sees a complete
// state). The controller builds it with snapshot() and publishes it only when it differs from
// the last one it handed out, so equality is field by field and cheap: the account's long lists
// are shared with the vault, and two states built from the same vault compare without looking
// at a single message.
//
// JSON for the page (encodePageJSON, or boost::json::value_from): keys equal the field names in
// the order below, dates as ISO 8601 text, "liveReply" and "search" left out when there is none.

#include <optional>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

#include "quorvane/Account.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/Vault.hpp"
#include "quorvane/controller/ConnectionStatus.hpp"
#include "quorvane/controller/MessageSearch.hpp"

namespace quorvane {

// One saved Dot connection, as the account switcher lists it.
struct SavedAccount {
    Text id {};
    Text name {};  // the account's label; "Your Dot" becomes "Dot connection <position>"
    bool active = false;

    bool operator==(const SavedAccount&) const = default;
};
BOOST_DESCRIBE_STRUCT(SavedAccount, (), (id, name, active))

struct ClientState {
    Account account {};  // the active account, whole
    Theme theme = Theme::light;
    AppIconStyle appIconStyle = AppIconStyle::quorvane;  // the vault's, or quorvane when it has none
    ConnectionStatus connection = ConnectionStatus::disconnected;
    Text issue {};  // the current problem sentence; empty when none
    Text fileIssue {};  // why the last file offered to the user was not saved; empty when none
    bool storageHealthy = true;
    std::vector<SavedAccount> accounts {};  // every account, in vault order
    bool systemDark = false;
    std::optional<ChatMessage> liveReply {};  // the reply being written right now
    std::vector<ChatMessage> liveReplies {};  // what the live reply projects into the conversations
    std::optional<SearchResults> search {};  // the user's last search in this account, when one is shown

    bool operator==(const ClientState&) const = default;
};
BOOST_DESCRIBE_STRUCT(ClientState, (),
    (account, theme, appIconStyle, connection, issue, fileIssue, storageHealthy, accounts, systemDark, liveReply,
        liveReplies, search))

// The page's JSON text of a state.
std::string encodePageJSON(const ClientState& state);

// boost::json::value_from(state) gives the same page form (this overload is preferred to the
// records' generic one, which would write dates as numbers).
void tag_invoke(boost::json::value_from_tag, boost::json::value& value, const ClientState& state);

}  // namespace quorvane
