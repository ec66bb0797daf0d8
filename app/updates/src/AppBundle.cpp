#include "quorvane/updates/AppBundle.hpp"

#include <fstream>
#include <sstream>
#include <system_error>

#include <boost/json/parse.hpp>
#include <glib.h>

namespace quorvane {

AppBundle AppBundle::load(const std::filesystem::path& dataDirectory)
{
    const std::filesystem::path file = dataDirectory / "Info.json";
    std::error_code missing;
    if (!std::filesystem::exists(file, missing))
        return {};

    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        g_warning("Cannot read %s; software updates are off.", file.c_str());
        return {};
    }
    boost::json::error_code error;
    boost::json::value value = boost::json::parse(text.str(), error);
    if (error || !value.is_object()) {
        g_warning("%s is not a JSON object; software updates are off.", file.c_str());
        return {};
    }
    return AppBundle { std::move(value.get_object()) };
}

std::optional<std::string_view> AppBundle::string(std::string_view key) const
{
    if (!infoDictionary)
        return std::nullopt;
    const boost::json::value* value = infoDictionary->if_contains(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

}  // namespace quorvane
