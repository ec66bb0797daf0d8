#include "quorvane/controller/ClientState.hpp"

#include <boost/json/parse.hpp>

#include "quorvane/controller/PageJSON.hpp"

namespace quorvane {

std::string encodePageJSON(const ClientState& state)
{
    std::string out;
    appendPageJSON(out, state);
    return out;
}

void tag_invoke(boost::json::value_from_tag, boost::json::value& value, const ClientState& state)
{
    value = boost::json::parse(encodePageJSON(state));
}

}  // namespace quorvane
