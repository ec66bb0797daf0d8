// The native gate of the bridge: what a relayed text must look like to count as a command.

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include "quorvane/shell/InterfaceBridge.hpp"

namespace quorvane {
namespace {

const std::filesystem::path kIndex = "/opt/quorvane/share/quorvane/UI/index.html";

TEST(InterfaceBridgeParse, AcceptsTheShapeAndTakesDataOnlyWhenItIsAnObject)
{
    struct Case {
        const char* name;
        std::string text;
        bool accepted;
        const char* data;  // the data taken, as JSON
    };
    const std::string href = R"("href":"file:///opt/quorvane/share/quorvane/UI/index.html")";
    const Case cases[] = {
        { "with data", "{" + href + R"(,"message":{"id":"1","command":"send","data":{"text":"hi"}}})", true,
            R"({"text":"hi"})" },
        { "without data", "{" + href + R"(,"message":{"id":"1","command":"ready"}})", true, "{}" },
        { "data an array", "{" + href + R"(,"message":{"id":"1","command":"ready","data":[1]}})", true, "{}" },
        { "data a string", "{" + href + R"(,"message":{"id":"1","command":"ready","data":"x"}})", true, "{}" },
        { "data null", "{" + href + R"(,"message":{"id":"1","command":"ready","data":null}})", true, "{}" },
        { "id a number", "{" + href + R"(,"message":{"id":1,"command":"ready"}})", false, "" },
        { "no id", "{" + href + R"(,"message":{"command":"ready"}})", false, "" },
        { "command null", "{" + href + R"(,"message":{"id":"1","command":null}})", false, "" },
        { "message an array", "{" + href + R"(,"message":["1","ready"]})", false, "" },
        { "no message", "{" + href + "}", false, "" },
        { "not JSON", "{" + href + R"(,"message":{"id":"1",)", false, "" },
        { "not an object", R"(["ready"])", false, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = InterfaceBridge::parse(c.text, kIndex);
        ASSERT_EQ(message.has_value(), c.accepted);
        if (message) {
            EXPECT_EQ(boost::json::serialize(message->data), c.data);
        }
    }
}

TEST(InterfaceBridgeParse, OnlyTheBundlesIndexFileCounts)
{
    struct Case {
        const char* href;
        bool accepted;
    };
    const Case cases[] = {
        { "file:///opt/quorvane/share/quorvane/UI/index.html", true },
        { "file:///opt/quorvane/share/quorvane/UI/index.html#settings", true },
        { "file:///opt/quorvane/share/quorvane/UI/index.html?x=1", true },
        { "file://localhost/opt/quorvane/share/quorvane/UI/index.html", true },
        { "file:///opt/quorvane/share/quorvane/UI/./index.html", true },
        { "file:///opt/quorvane/share/quorvane/UI/sub/../index.html", true },
        { "file:///opt/quorvane/share/quorvane/UI/%69ndex.html", true },
        { "file:///opt/quorvane/share/quorvane/UI/other.html", false },
        { "file:///opt/quorvane/share/quorvane/UI/index.html/", false },
        { "file:///tmp/index.html", false },
        { "file://evil.example/opt/quorvane/share/quorvane/UI/index.html", false },
        { "https://example.org/opt/quorvane/share/quorvane/UI/index.html", false },
        { "about:blank", false },
        { "about:srcdoc", false },
        { "data:text/html,index.html", false },
        { "", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.href);
        std::string text = std::string(R"({"href":")") + c.href + R"(","message":{"id":"1","command":"ready"}})";
        EXPECT_EQ(InterfaceBridge::parse(text, kIndex).has_value(), c.accepted);
    }
}

TEST(InterfaceBridgeParse, RefusesTextsOverTheLimit)
{
    std::string prefix
        = R"({"href":"file:///opt/quorvane/share/quorvane/UI/index.html","message":{"id":"1","command":"draft","data":{"text":")";
    std::string suffix = R"("}}})";
    std::string atLimit
        = prefix + std::string(InterfaceBridge::kMessageByteLimit - prefix.size() - suffix.size(), 'a') + suffix;
    ASSERT_EQ(atLimit.size(), InterfaceBridge::kMessageByteLimit);
    EXPECT_TRUE(InterfaceBridge::parse(atLimit, kIndex).has_value());
    std::string over
        = prefix + std::string(InterfaceBridge::kMessageByteLimit - prefix.size() - suffix.size() + 1, 'a') + suffix;
    EXPECT_FALSE(InterfaceBridge::parse(over, kIndex).has_value());
}

}  // namespace
}  // namespace quorvane
