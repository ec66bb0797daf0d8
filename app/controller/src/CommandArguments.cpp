#include "CommandArguments.hpp"

namespace quorvane {

namespace {
Text textOf(const boost::json::string& value) { return Text(std::string_view(value.data(), value.size())); }
}  // namespace

std::optional<Text> CommandArguments::string(std::string_view key) const
{
    auto found = data_.find(key);
    if (found == data_.end() || !found->value().is_string())
        return std::nullopt;
    return textOf(found->value().get_string());
}

Text CommandArguments::string(std::string_view key, std::string_view fallback) const
{
    return string(key).value_or(Text(fallback));
}

std::optional<std::vector<std::vector<Text>>> CommandArguments::stringLists(std::string_view key) const
{
    auto found = data_.find(key);
    if (found == data_.end() || !found->value().is_array())
        return std::nullopt;
    std::vector<std::vector<Text>> lists;
    lists.reserve(found->value().get_array().size());
    for (const auto& list : found->value().get_array()) {
        if (!list.is_array())
            return std::nullopt;
        std::vector<Text>& strings = lists.emplace_back();
        strings.reserve(list.get_array().size());
        for (const auto& item : list.get_array()) {
            if (!item.is_string())
                return std::nullopt;
            strings.push_back(textOf(item.get_string()));
        }
    }
    return lists;
}

}  // namespace quorvane
