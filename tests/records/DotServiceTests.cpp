#include <gtest/gtest.h>

#include <fstream>

#include "quorvane/DotService.hpp"

namespace quorvane {
namespace {

DotService service(std::string mainHost)
{
    DotService s;
    s.mainHost = std::move(mainHost);
    s.homePath = "/dots";
    return s;
}

TEST(ValidDotURL, AcceptsOnlyConversationAddressesOnTheMainHost)
{
    const DotService dot = service("dot.example");
    const std::string uuid = "0123abcd-4567-89ef-ABCD-0123456789ab";
    struct Case {
        std::string url;
        bool valid;
    } cases[] = {
        { "https://dot.example/dots/home", true },
        { "https://dot.example/dots/home/", true },
        { "https://dot.example/dots/" + uuid, true },
        { "https://dot.example/dots/" + uuid + "/", true },
        { "https://dot.example:443/dots/home", true },
        { "http://dot.example/dots/home", false },
        { "HTTPS://dot.example/dots/home", false },
        { "https://other.example/dots/home", false },
        { "https://dot.example.evil/dots/home", false },
        { "https://evil.dot.example/dots/home", false },
        { "https://dot.example:8443/dots/home", false },
        { "https://user@dot.example/dots/home", false },
        { "https://dot.example/dots/home?x=1", false },
        { "https://dot.example/dots/home?", false },
        { "https://dot.example/dots/home#top", false },
        { "https://dot.example/dots/", false },
        { "https://dot.example/dots", false },
        { "https://dot.example/dots/home//", false },
        { "https://dot.example/dots/" + uuid.substr(0, 35) + "g", false },
        { "https://dot.example/dots/0123abcd456789efABCD0123456789abcdef", false },
        { "https://dot.example/other/home", false },
        { "https://dot.example", false },
        { "", false },
        { "dot.example/dots/home", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(validDotURL(c.url, dot), c.valid);
    }
}

TEST(ValidDotURL, AHostWithAPortMustMatchItExactly)
{
    const DotService local = service("127.0.0.1:8443");
    EXPECT_TRUE(validDotURL("https://127.0.0.1:8443/dots/home", local));
    EXPECT_FALSE(validDotURL("https://127.0.0.1/dots/home", local));
    EXPECT_FALSE(validDotURL("https://127.0.0.1:9443/dots/home", local));
}

// Conversation addresses live under the configured home path, whatever it is.
TEST(ValidDotURL, ConversationsLiveUnderTheConfiguredHomePath)
{
    const std::string uuid = "0123abcd-4567-89ef-ABCD-0123456789ab";
    struct Case {
        const char* homePath;
        std::string url;
        bool valid;
    } cases[] = {
        { "/chat", "https://dot.example/chat/home", true },
        { "/chat", "https://dot.example/chat/" + uuid + "/", true },
        { "/chat", "https://dot.example/dots/home", false },
        { "/chat", "https://dot.example/chats/home", false },
        { "/chat", "https://dot.example/chat", false },
        { "/a/b", "https://dot.example/a/b/" + uuid, true },
        { "/a/b", "https://dot.example/a/" + uuid, false },
        { "/dots/", "https://dot.example/dots/home", true },  // one trailing slash is the same path
        { "/dots/", "https://dot.example/dots//home", false },
        { "/", "https://dot.example/" + uuid, true },
        { "/", "https://dot.example/home", true },
        { "/", "https://dot.example/dots/home", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.homePath) + " " + c.url);
        DotService dot = service("dot.example");
        dot.homePath = c.homePath;
        EXPECT_EQ(validDotURL(c.url, dot), c.valid);
    }
}

class DotServiceFile : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& contents)
    {
        std::ofstream(path_, std::ios::trunc) << contents;
        return path_;
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::filesystem::path path_ = std::filesystem::temp_directory_path()
        / ("quorvane-dot-service-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".json");
};

TEST_F(DotServiceFile, LoadsTheShippedConfiguration)
{
    DotService shipped = DotService::load(QUORVANE_SHIPPED_DOT_SERVICE);
    EXPECT_EQ(shipped.mainHost, "dot.example");
    EXPECT_EQ(shipped.homePath, "/dots");
    EXPECT_EQ(shipped.homeURL(), "https://dot.example/dots");
    EXPECT_FALSE(shipped.trustedCertificate);
}

TEST_F(DotServiceFile, ResolvesTheCertificateBesideTheFile)
{
    auto file = write(R"({"mainHost":"127.0.0.1:9000","staticHost":"127.0.0.1:9000","userContentHost":"127.0.0.1:9000",
        "companyHost":"127.0.0.1:9000","homePath":"/dots","trustedCertificate":"sim.pem"})");
    DotService loaded = DotService::load(file);
    EXPECT_EQ(loaded.trustedCertificate, file.parent_path() / "sim.pem");
}

TEST_F(DotServiceFile, MalformedConfigurationIsAClearError)
{
    const std::string hosts = R"("staticHost":"s.example","userContentHost":"u.example","companyHost":"c.example")";
    struct Case {
        const char* name;
        std::string contents;
        std::string error;
    } cases[] = {
        { "not JSON", "{", "is not valid JSON" },
        { "not an object", "[]", "must hold a JSON object." },
        { "missing main host", "{" + hosts + R"(,"homePath":"/dots"})", R"(has no "mainHost".)" },
        { "host with a scheme", R"({"mainHost":"https://dot.example",)" + hosts + R"(,"homePath":"/dots"})",
            "names a host that is not a plain host name" },
        { "host not a string", R"({"mainHost":7,)" + hosts + R"(,"homePath":"/dots"})",
            R"(has a "mainHost" that is not a string.)" },
        { "relative home path", R"({"mainHost":"dot.example",)" + hosts + R"(,"homePath":"dots"})",
            R"(has a "homePath" that is not an absolute path.)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = write(c.contents);
        try {
            DotService::load(file);
            ADD_FAILURE() << "loaded";
        } catch (const DotServiceError& error) {
            std::string message = error.what();
            EXPECT_NE(message.find(file.string()), std::string::npos) << message;
            EXPECT_NE(message.find(c.error), std::string::npos) << message;
        }
    }
    EXPECT_THROW(DotService::load(path_.string() + ".missing"), DotServiceError);
}

TEST(DotServiceConfiguration, EnvironmentNamesAnotherFile)
{
    ::unsetenv("QUORVANE_DOT_SERVICE");
    EXPECT_EQ(DotService::configurationFile("/usr/share/quorvane"), "/usr/share/quorvane/dot-service.json");
    ::setenv("QUORVANE_DOT_SERVICE", "/tmp/sim/dot-service.json", 1);
    EXPECT_EQ(DotService::configurationFile("/usr/share/quorvane"), "/tmp/sim/dot-service.json");
    ::unsetenv("QUORVANE_DOT_SERVICE");
}

}  // namespace
}  // namespace quorvane
