// The appcast feed, as a hostile or broken update server could send it.
//
// Properties: a feed either parses or throws AppcastParseError; every item has a version;
// versions order consistently (each equals itself, and swapping two flips the sign); the update
// offered is one of the feed's items and newer than the installed version.

#include "FuzzSupport.hpp"
#include "quorvane/updates/Appcast.hpp"

using namespace quorvane;

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<AppcastItem> items;
    try {
        items = parseAppcast(fuzz::asText(data, size));
    } catch (const AppcastParseError&) {
        return 0;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& version = items[i].version;
        if (version.empty())
            fuzz::propertyBroken("an item without a version was read");
        if (compareVersions(version, version) != 0)
            fuzz::propertyBroken("a version does not equal itself", version);
        const std::string& next = items[(i + 1) % items.size()].version;
        if (sign(compareVersions(version, next)) != -sign(compareVersions(next, version)))
            fuzz::propertyBroken("two versions order differently when swapped", version + " / " + next);
    }
    const std::string installed = "0.1.0";
    if (auto update = newestUpdate(items, installed)) {
        if (compareVersions(update->version, installed) <= 0)
            fuzz::propertyBroken("an update no newer than the installed version was offered", update->version);
    }
    return 0;
}
