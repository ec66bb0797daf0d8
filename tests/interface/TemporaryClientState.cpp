#include "TemporaryClientState.hpp"

#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>

#include "quorvane/Date.hpp"
#include "quorvane/Json.hpp"

namespace quorvane::testing {

namespace {

bool isDateKey(std::string_view key)
{
    return key == "date" || key == "submitted" || key == "nextAttempt" || key == "lastDeliveryCheck";
}

// Dates are numbers in the records' JSON (whole seconds come out as integers); the page takes
// them in ISO 8601.
void datesToISO(boost::json::value& value)
{
    if (value.is_object()) {
        for (auto& entry : value.as_object()) {
            if (isDateKey(entry.key()) && entry.value().is_number())
                entry.value() = iso8601(entry.value().to_number<double>());
            else
                datesToISO(entry.value());
        }
    } else if (value.is_array()) {
        for (auto& element : value.as_array())
            datesToISO(element);
    }
}

}  // namespace

std::string encodeTemporaryClientState(const TemporaryClientState& state)
{
    boost::json::object out;
    out["account"] = boost::json::value_from(state.vault.account());
    out["theme"] = std::string(state.vault.theme.view());
    out["appIconStyle"] = state.vault.appIconStyle ? std::string(state.vault.appIconStyle->view()) : "quorvane";
    out["connection"] = state.connection;
    out["issue"] = state.issue;
    out["storageHealthy"] = state.storageHealthy;
    boost::json::array accounts;
    for (std::size_t i = 0; i < state.vault.accounts.size(); ++i) {
        const Account& account = state.vault.accounts[i];
        std::string name(account.label.view());
        if (name == "Your Dot")
            name = "Dot connection " + std::to_string(i + 1);
        accounts.push_back(boost::json::object { { "id", std::string(account.id.view()) }, { "name", name },
            { "active", account.id == state.vault.activeAccount } });
    }
    out["accounts"] = std::move(accounts);
    out["systemDark"] = state.systemDark;
    if (state.liveReply)
        out["liveReply"] = boost::json::value_from(*state.liveReply);
    boost::json::array live;
    for (const auto& message : state.liveReplies)
        live.push_back(boost::json::value_from(message));
    out["liveReplies"] = std::move(live);
    boost::json::value value = std::move(out);
    datesToISO(value);
    return boost::json::serialize(value);
}

}  // namespace quorvane::testing
