// The diagnostics status file: when it is written, what it says, and that the shared /tmp path
// is replaced safely (private mode, never through a planted link, no temporary file left).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quorvane/controller/StatusFile.hpp"

namespace quorvane {
namespace {

std::string contentsOf(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class StatusFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("quorvane-status-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        path = folder / "quorvane-status.json";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path folder;
    std::filesystem::path path;
};

TEST_F(StatusFileTest, WrittenWholeAndPrivate)
{
    ASSERT_TRUE(writeStatusFile(path, R"({"phase":"none"})"));
    EXPECT_EQ(contentsOf(path), R"({"phase":"none"})");
    ASSERT_TRUE(writeStatusFile(path, R"({"phase":"waiting"})"));
    EXPECT_EQ(contentsOf(path), R"({"phase":"waiting"})");
    struct stat info { };
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(entries(), std::vector<std::string> { "quorvane-status.json" }) << "no temporary file is left";
}

TEST_F(StatusFileTest, PlantedLinkIsReplacedNotFollowed)
{
    const auto target = folder / "someone-elses-file";
    {
        std::ofstream(target) << "precious";
    }
    std::filesystem::create_symlink(target, path);

    ASSERT_TRUE(writeStatusFile(path, "{}"));
    EXPECT_EQ(contentsOf(target), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(contentsOf(path), "{}");
}

TEST_F(StatusFileTest, FailureIsQuiet)
{
    EXPECT_FALSE(writeStatusFile(folder / "missing-folder" / "status.json", "{}"));
    EXPECT_EQ(entries(), std::vector<std::string> {});
}

TEST(Diagnostics, OnlyExactlyOneTurnsThemOn)
{
    const std::vector<std::pair<std::optional<const char*>, bool>> cases = {
        { std::nullopt, false },
        { "1", true },
        { "0", false },
        { "", false },
        { "true", false },
        { "1 ", false },
        { "01", false },
    };
    for (const auto& [value, enabled] : cases) {
        SCOPED_TRACE(value.value_or("(unset)"));
        if (value)
            ::setenv(kDiagnosticsVariable, *value, 1);
        else
            ::unsetenv(kDiagnosticsVariable);
        EXPECT_EQ(diagnosticsEnabled(), enabled);
    }
    ::unsetenv(kDiagnosticsVariable);
}

TEST(StatusRecord, KeysAndValues)
{
    Account account = Account::fresh();
    PendingRequest job = PendingRequest::make("R1", account.bots.front(), "Hello");
    job.phase = JobPhase::waiting;
    job.replyToken = "0123456789ab";
    job.userMessageID = "m2";
    job.payload = "[Quorvane request R1]\n[Reply tag: [qv:0123456789ab]]\nHello";

    DotSnapshot snapshot;
    snapshot.avatarURL = "https://dot.example/\xC3\xA9.png";  // 25 characters, 26 bytes
    snapshot.profileName = "Dot \"One\"";
    snapshot.messages = {
        DotMessage { "m1", "assistant", "An earlier answer" },
        DotMessage { "m2", "user", job.payload },
        DotMessage { "m3", "assistant", "[qv:0123456789ab]\n\nHi there \xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD" },
    };

    struct Case {
        const char* name;
        std::vector<PendingRequest> jobs;
        const char* expected;
    };
    const std::vector<Case> cases = {
        { "no jobs", {},
            R"({"avatarLength":25,"profileName":"Dot \"One\"","phase":"none","hasAnchor":false,"match":false,)"
            R"("replyLength":0,"recentLengths":[17,58,29]})" },
        { "a waiting job with its reply", { job },
            R"({"avatarLength":25,"profileName":"Dot \"One\"","phase":"waiting","hasAnchor":true,"match":true,)"
            R"("replyLength":10,"recentLengths":[17,58,29]})" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        account.jobs = c.jobs;
        std::string json = statusFileJSON(snapshot, account);
        EXPECT_EQ(json, c.expected);
        EXPECT_NO_THROW(boost::json::parse(json));
    }

    DotSnapshot bare;
    bare.messages = { DotMessage { "m1", "user", "a" }, DotMessage { "m2", "assistant", "bc" } };
    account.jobs.clear();
    EXPECT_EQ(statusFileJSON(bare, account),
        R"({"avatarLength":0,"profileName":"","phase":"none","hasAnchor":false,"match":false,)"
        R"("replyLength":0,"recentLengths":[1,2]})");
}

}  // namespace
}  // namespace quorvane
