#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quorvane/updates/Appcast.hpp"

namespace quorvane {
namespace {

std::string feed(const std::string& items, const std::string& prefix = "sparkle")
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:)"
        + prefix
        + R"(="http://www.andymatuschak.org/xml-namespaces/sparkle" xmlns:dc="http://purl.org/dc/elements/1.1/">
  <channel>
    <title>Quorvane</title>
    )" + items
        + R"(
  </channel>
</rss>)";
}

TEST(Appcast, ReadsTheItemsOfAFeed)
{
    struct Case {
        const char* name;
        std::string xml;
        AppcastItem expected;
    };
    const std::vector<Case> cases = {
        { "version elements, critical, link", feed(R"(<item><title>0.2</title>
                <description><![CDATA[<p>Faster & <b>smaller</b></p>]]></description>
                <sparkle:version> 0.2.0 </sparkle:version>
                <sparkle:shortVersionString>0.2 “Spring”</sparkle:shortVersionString>
                <sparkle:criticalUpdate/>
                <link>https://updates.example/releases?v=0.2&amp;lang=en</link>
                <enclosure url="https://updates.example/q.tar.gz" length="1" type="application/octet-stream"/></item>)"),
            { "0.2.0", "0.2 “Spring”", true, std::nullopt, "https://updates.example/releases?v=0.2&lang=en",
                std::nullopt } },
        { "another prefix for the namespace",
            feed("<item><s:version>7</s:version><s:channel>beta</s:channel></item>", "s"),
            { "7", std::nullopt, false, std::nullopt, std::nullopt, "beta" } },
        { "versions on the enclosure",
            feed(
                R"(<item><enclosure url="https://u.example/x" sparkle:version="12" sparkle:shortVersionString="1.2"/></item>)"),
            { "12", "1.2", false, std::nullopt, std::nullopt, std::nullopt } },
        { "critical marker in tags, for older installs only",
            feed(
                R"(<item><sparkle:version>3.0</sparkle:version><sparkle:tags><sparkle:criticalUpdate sparkle:version="2.5"/></sparkle:tags></item>)"),
            { "3.0", std::nullopt, true, "2.5", std::nullopt, std::nullopt } },
        { "a sparkle-looking element of another namespace is not ours",
            R"(<rss xmlns:sparkle="https://elsewhere.example/ns"><channel><item><enclosure sparkle:version="1"/><version xmlns="http://www.andymatuschak.org/xml-namespaces/sparkle">5</version></item></channel></rss>)",
            { "5", std::nullopt, false, std::nullopt, std::nullopt, std::nullopt } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<AppcastItem> items;
        ASSERT_NO_THROW(items = parseAppcast(c.xml));
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0], c.expected);
    }
    EXPECT_TRUE(parseAppcast(feed("")).empty());
}

TEST(Appcast, RefusesWhatIsNotAnAppcast)
{
    std::string deep = "<rss><channel>";
    for (int i = 0; i < 40; ++i)
        deep += "<x>";
    struct Case {
        const char* name;
        std::string xml;
        std::string message;  // the start of the error's sentence
    };
    const std::vector<Case> cases = {
        { "cut short", feed("<item><sparkle:version>2</sparkle:version>").substr(0, 200),
            "The update feed is not well-formed XML: " },
        { "an HTML page", "<html><body><p>Not found</p></body></html>", "The update feed is not an RSS feed." },
        { "no channel", "<rss version=\"2.0\"/>", "The update feed has no channel." },
        { "a declaration and no element", "<?xml version=\"1.0\"?>", "The update feed is not an RSS feed." },
        { "empty", "", "The update feed is not well-formed XML: " },
        { "an item without a version",
            feed(
                "<item><sparkle:version>1</sparkle:version></item><item><title>2</title><enclosure url=\"x\"/></item>"),
            "Item 2 of the update feed has no version." },
        { "a prefix bound to nothing",
            "<rss><channel><item><sparkle:version>1</sparkle:version></item></channel></rss>",
            "The update feed is not well-formed XML: " },
        { "nesting without end", deep, "The update feed is not well-formed XML: " },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            parseAppcast(c.xml);
            ADD_FAILURE() << "accepted";
        } catch (const AppcastParseError& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, c.message.size()), c.message) << error.what();
        }
    }
}

TEST(Appcast, ComparesVersionsAsReleaseNumbers)
{
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const std::vector<Case> cases = {
        { "0.1.0", "0.1.0", 0 },
        { "0.2.0", "0.1.0", 1 },
        { "0.10.0", "0.9.0", 1 },
        { "1.0", "1.0.0", 0 },
        { "1.0.1", "1.0", 1 },
        { "1.0b1", "1.0", -1 },
        { "1.0.0b1", "1.0", -1 },
        { "1.0b10", "1.0b2", 1 },
        { "1.0rc1", "1.0b3", 1 },
        { "1.0.1", "1.0b1", 1 },
        { "2", "10", -1 },
        { "007", "7", 0 },
        { "123456789012345678901234567890", "123456789012345678901234567891", -1 },
        { "1-2", "1.2", 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(compareVersions(c.a, c.b), c.order);
        EXPECT_EQ(compareVersions(c.b, c.a), -c.order);
    }
}

TEST(Appcast, OffersTheNewestItemOfTheDefaultChannelWhenNewer)
{
    auto item = [](const char* version, std::optional<std::string> shortVersion = std::nullopt) {
        AppcastItem out;
        out.version = version;
        out.shortVersionString = std::move(shortVersion);
        return out;
    };
    AppcastItem beta = item("0.9", "0.9 beta");
    beta.channel = "beta";
    AppcastItem criticalForOld = item("0.4", "0.4");
    criticalForOld.criticalUpdate = true;
    criticalForOld.criticalBelowVersion = "0.2";
    AppcastItem insecureLink = item("0.5");
    insecureLink.link = "http://updates.example/0.5";
    AppcastItem scriptLink = item("0.5");
    scriptLink.link = "javascript:alert(1)";
    AppcastItem pageLink = item("0.5");
    pageLink.link = "https://updates.example/0.5";

    struct Case {
        const char* name;
        std::vector<AppcastItem> items;
        const char* installed;
        std::optional<UpdateItem> expected;
    };
    const std::vector<Case> cases = {
        { "newest is not first", { item("0.1.0"), item("0.3.0", "0.3"), item("0.2.0") }, "0.1.0",
            UpdateItem { "0.3.0", "0.3", false, {} } },
        { "display version falls back to the version", { item("0.2.0") }, "0.1.0",
            UpdateItem { "0.2.0", "0.2.0", false, {} } },
        { "same version", { item("0.1.0") }, "0.1.0", std::nullopt },
        { "older only", { item("0.0.9"), item("0.1.0b2") }, "0.1.0", std::nullopt },
        { "no items", {}, "0.1.0", std::nullopt },
        { "beta channel left out", { item("0.2"), beta }, "0.1.0", UpdateItem { "0.2", "0.2", false, {} } },
        { "only a beta", { beta }, "0.1.0", std::nullopt },
        { "critical for versions below 0.2, installed 0.1", { criticalForOld }, "0.1",
            UpdateItem { "0.4", "0.4", true, {} } },
        { "critical for versions below 0.2, installed 0.3", { criticalForOld }, "0.3",
            UpdateItem { "0.4", "0.4", false, {} } },
        { "http release page dropped", { insecureLink }, "0.1", UpdateItem { "0.5", "0.5", false, {} } },
        { "script release page dropped", { scriptLink }, "0.1", UpdateItem { "0.5", "0.5", false, {} } },
        { "https release page kept", { pageLink }, "0.1",
            UpdateItem { "0.5", "0.5", false, "https://updates.example/0.5" } },
        { "nothing installed yet", { item("0.0.1") }, "", UpdateItem { "0.0.1", "0.0.1", false, {} } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(newestUpdate(c.items, c.installed), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
