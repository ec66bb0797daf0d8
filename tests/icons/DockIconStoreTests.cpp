#include "quorvane/icons/DockIconStore.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "IconTestSupport.hpp"
#include "quorvane/icons/DockIconContract.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class DockIconStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gchar* made = g_dir_make_tmp("quorvane-dock-icon-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        root_ = made;
        g_free(made);
        // With no umask in the way, the modes seen are exactly the ones the store asks for.
        savedUmask_ = umask(0);
    }
    void TearDown() override
    {
        umask(savedUmask_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static mode_t modeOf(const fs::path& path)
    {
        struct stat info { };
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }
    static std::vector<std::uint8_t> contentsOf(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    }
    static std::vector<std::string> namesIn(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    template <typename Call>
    static std::string errorOf(Call&& call)
    {
        try {
            call();
        } catch (const std::system_error& error) {
            return error.what();
        }
        return "(no error)";
    }

    fs::path root_;
    mode_t savedUmask_ = 0;
    const Image red_ = icontest::pictureWith(32, 16, { 0, 0, 32, 16 }, { 255, 0, 0, 255 });
    const Image blue_ = icontest::pictureWith(16, 32, { 0, 0, 16, 32 }, { 0, 0, 255, 255 });
};

TEST_F(DockIconStoreTest, WritesAPrivatePNGInPrivateFolders)
{
    const fs::path file = root_ / "a" / "b" / "Quorvane" / "DockIcon.png";
    DockIconStore::save(red_, file);

    for (const fs::path& folder : { root_ / "a", root_ / "a" / "b", root_ / "a" / "b" / "Quorvane" }) {
        SCOPED_TRACE(folder.string());
        EXPECT_EQ(modeOf(folder), 0700);
    }
    EXPECT_EQ(modeOf(file), 0600);
    const Image written = icontest::decodePNG(contentsOf(file));
    EXPECT_EQ(written.width(), 32);
    EXPECT_EQ(written.height(), 16);
    EXPECT_EQ(icontest::pixelAt(written, 5, 5), (icontest::RGBA { 255, 0, 0, 255 }));
    EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string> { "DockIcon.png" });
}

TEST_F(DockIconStoreTest, ReplacesTheFileByRenameNotInPlace)
{
    const fs::path file = root_ / "Quorvane" / "DockIcon.png";
    DockIconStore::save(red_, file);
    // A second name for the old file keeps the old bytes only if the new icon arrived as a
    // new file renamed into place; writing into the old file would change both names.
    const fs::path oldLink = root_ / "old.png";
    fs::create_hard_link(file, oldLink);
    const auto oldBytes = contentsOf(file);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);

    DockIconStore::save(blue_, file);

    EXPECT_EQ(contentsOf(oldLink), oldBytes);
    EXPECT_EQ(icontest::decodePNG(contentsOf(file)).width(), 16);
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string> { "DockIcon.png" });
}

TEST_F(DockIconStoreTest, SavingNoImageRemovesTheFileAndKeepsTheFolder)
{
    const fs::path file = root_ / "Quorvane" / "DockIcon.png";
    DockIconStore::save(red_, file);
    DockIconStore::save(std::nullopt, file);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
}

TEST_F(DockIconStoreTest, SavingNoImageWhenThereIsNoFileDoesNothing)
{
    for (const fs::path& file : { root_ / "Quorvane" / "DockIcon.png", root_ / "DockIcon.png" }) {
        SCOPED_TRACE(file.string());
        DockIconStore::save(std::nullopt, file);
    }
    EXPECT_TRUE(namesIn(root_).empty());
}

TEST_F(DockIconStoreTest, ReportsWhatFailedAndLeavesNoTemporaryFile)
{
    const fs::path blocker = root_ / "blocker";
    std::ofstream(blocker) << "a file where a folder should be";
    const fs::path occupied = root_ / "Quorvane" / "DockIcon.png";
    fs::create_directories(occupied / "something");

    struct Case {
        const char* name;
        std::optional<Image> image;
        fs::path file;
        std::string error;
    };
    const Case cases[] = {
        { "folder cannot be made", red_, blocker / "Quorvane" / "DockIcon.png",
            "Could not create the folder " + (blocker / "Quorvane").string() + ": Not a directory" },
        { "a folder holds the name", red_, occupied, "Could not replace " + occupied.string() + ": Is a directory" },
        { "removing a folder", std::nullopt, occupied,
            "Could not remove " + occupied.string() + ": Directory not empty" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf([&] { DockIconStore::save(c.image, c.file); }), c.error);
    }
    EXPECT_EQ(namesIn(root_ / "Quorvane"), std::vector<std::string> { "DockIcon.png" });
    EXPECT_EQ(namesIn(occupied), std::vector<std::string> { "something" });
}

// The application and the Dock tile module each compute the icon's place from their own
// environment; the rule must hold for the cases a desktop session produces.
TEST(DockIconContractTest, TheIconFileLivesUnderTheDataHome)
{
    struct Case {
        const char* name;
        const char* dataHome;  // nullptr: unset
        const char* expected;
    };
    const Case cases[] = {
        { "data home set", "/data/home", "/data/home/Quorvane/DockIcon.png" },
        { "data home unset", nullptr, "/users/ada/.local/share/Quorvane/DockIcon.png" },
        { "data home empty", "", "/users/ada/.local/share/Quorvane/DockIcon.png" },
        { "data home relative, so invalid", "relative/home", "/users/ada/.local/share/Quorvane/DockIcon.png" },
    };
    const std::string savedHome = g_getenv("HOME") ? g_getenv("HOME") : "";
    const char* savedDataHomeValue = g_getenv("XDG_DATA_HOME");
    const std::optional<std::string> savedDataHome
        = savedDataHomeValue ? std::optional<std::string>(savedDataHomeValue) : std::nullopt;
    g_setenv("HOME", "/users/ada", TRUE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.dataHome)
            g_setenv("XDG_DATA_HOME", c.dataHome, TRUE);
        else
            g_unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(dockicon::iconFilePath(), fs::path(c.expected));
    }
    g_setenv("HOME", savedHome.c_str(), TRUE);
    if (savedDataHome)
        g_setenv("XDG_DATA_HOME", savedDataHome->c_str(), TRUE);
    else
        g_unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace quorvane
