#include <gtest/gtest.h>

#include <unordered_set>

#include "quorvane/Text.hpp"

namespace quorvane {
namespace {

TEST(Text, CopiesShareStorageAndCompareByContent)
{
    Text original(std::string(5000, 'x'));
    Text copy = original;
    EXPECT_TRUE(copy.sharesStorageWith(original));
    EXPECT_EQ(copy, original);

    Text separate(std::string(5000, 'x'));
    EXPECT_FALSE(separate.sharesStorageWith(original));
    EXPECT_EQ(separate, original);
    EXPECT_NE(Text(std::string(4999, 'x') + "y"), original);
}

TEST(Text, EmptyTextNeedsNoStorageAndReadsAsEmpty)
{
    Text empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty, Text(""));
    EXPECT_EQ(empty, "");
    EXPECT_EQ(empty.view().size(), 0u);
}

TEST(Text, KeepsEmbeddedNulsAndMultibyteCharacters)
{
    std::string raw("a\0b\xF0\x9F\x98\x80", 7);
    Text text(raw);
    EXPECT_EQ(text.size(), 7u);
    EXPECT_EQ(text.view(), std::string_view(raw));
}

TEST(Text, MovedFromTextIsEmptyAndSelfAssignmentIsSafe)
{
    Text a("hello");
    Text b(std::move(a));
    EXPECT_EQ(b, "hello");
    EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
    Text& alias = b;
    b = alias;
    EXPECT_EQ(b, "hello");
}

TEST(Text, MixesWithStandardStrings)
{
    Text text("abc");
    std::string standard = "abc";
    EXPECT_TRUE(text == standard);
    EXPECT_TRUE(standard == text);
    EXPECT_TRUE(text == std::string_view("abc"));
    EXPECT_TRUE(text < Text("abd"));
    EXPECT_EQ(text + "-reply", "abc-reply");
    EXPECT_EQ("[" + text + "]", "[abc]");
    EXPECT_EQ(text + text, "abcabc");
    std::string built = "x";
    built += text;
    EXPECT_EQ(built, "xabc");
    EXPECT_TRUE(text.starts_with("ab"));
    EXPECT_EQ(text.find("c"), 2u);

    std::unordered_set<Text> set { Text("a"), Text("b") };
    EXPECT_EQ(set.count(Text("a")), 1u);
}

}  // namespace
}  // namespace quorvane
