#pragma once

// Reading an appcast: an RSS 2.0 feed whose items describe releases with the Sparkle namespace
// ("http://www.andymatuschak.org/xml-namespaces/sparkle"), the usual update-feed shape:
//
//   <rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
//     <channel>
//       <item>
//         <sparkle:version>0.2.0</sparkle:version>
//         <sparkle:shortVersionString>0.2</sparkle:shortVersionString>
//         <sparkle:criticalUpdate/>
//         <link>https://example.org/releases/0.2</link>
//         <enclosure url="…" sparkle:version="0.2.0"/>
//       </item>
//     </channel>
//   </rss>
//
// Namespaces are resolved by URI, so a feed may bind the namespace to another prefix. The
// version may also sit on the enclosure (older feeds); the critical marker may sit inside
// <sparkle:tags>, and with a sparkle:version attribute it is critical only for installs older
// than that version. Items on a named <sparkle:channel> are for users who opted into that
// channel and are left out.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "quorvane/updates/UpdateDriver.hpp"

namespace quorvane {

class AppcastParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AppcastItem {
    std::string version;
    std::optional<std::string> shortVersionString;
    bool criticalUpdate = false;
    std::optional<std::string> criticalBelowVersion;  // the marker's own sparkle:version
    std::optional<std::string> link;
    std::optional<std::string> channel;

    bool operator==(const AppcastItem&) const = default;
};

// The items of the feed in document order. Throws AppcastParseError when the text is not
// well-formed XML, is not an RSS feed with a channel, or has an item without a version.
std::vector<AppcastItem> parseAppcast(std::string_view xml);

// Orders two version strings the way release numbers are read: numbers compare by value
// ("0.10" after "0.9"), a pre-release suffix comes before the release ("1.0b2" before "1.0"),
// and trailing zero parts do not count ("1.0" equals "1.0.0"). Negative, zero or positive.
int compareVersions(std::string_view a, std::string_view b);

// The newest item of the default channel when it is newer than the installed version, as
// offered to the user; nothing otherwise.
std::optional<UpdateItem> newestUpdate(const std::vector<AppcastItem>& items, std::string_view installedVersion);

}  // namespace quorvane
