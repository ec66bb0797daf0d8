// Which folders hold an account's website data.

#include <gtest/gtest.h>

#include "quorvane/TextRules.hpp"
#include "quorvane/UserFolders.hpp"
#include "quorvane/browser/BrowserProfile.hpp"

namespace quorvane {
namespace {

TEST(BrowserProfileTest, FoldersAreNamedAfterTheProfileOrAFreshUUID)
{
    auto profile = BrowserProfile::forAccount("0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(profile.identifier, "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(profile.dataDirectory, *userDataHome() / "Quorvane/profiles/0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(profile.cacheDirectory, *userCacheHome() / "Quorvane/profiles/0F8FAD5B-D9CB-469F-A165-70867728950E");

    auto first = BrowserProfile::forAccount("not a uuid");
    auto second = BrowserProfile::forAccount("not a uuid");
    EXPECT_TRUE(canonicalUUID(first.identifier));
    EXPECT_NE(first.identifier, second.identifier);
    EXPECT_EQ(first.dataDirectory.filename(), first.identifier);
}

}  // namespace
}  // namespace quorvane
