#include <gtest/gtest.h>

#include <algorithm>

#include "quorvane/CowVector.hpp"
#include "quorvane/Text.hpp"

namespace quorvane {
namespace {

TEST(CowVector, CopiesShareUntilOneChanges)
{
    CowVector<Text> original { "a", "b", "c" };
    CowVector<Text> copy = original;
    EXPECT_TRUE(copy.sharesElementsWith(original));
    EXPECT_EQ(copy, original);

    copy.mutableAt(1) = "B";
    EXPECT_FALSE(copy.sharesElementsWith(original));
    EXPECT_EQ(original, (std::vector<Text> { "a", "b", "c" }));
    EXPECT_EQ(copy, (std::vector<Text> { "a", "B", "c" }));
    // The untouched elements still share their characters.
    EXPECT_TRUE(copy.elements()[0].sharesStorageWith(original.elements()[0]));
}

TEST(CowVector, ReadingNeverCopies)
{
    CowVector<Text> original { "a", "b" };
    CowVector<Text> copy = original;
    // Every reading call on a list that is not const, as a loop or a look-up writes it.
    std::size_t seen = 0;
    for (const auto& element : copy)
        seen += element.size();
    EXPECT_EQ(seen, 2u);
    EXPECT_EQ(copy[0], "a");
    EXPECT_EQ(copy.at(1), "b");
    EXPECT_EQ(copy.front(), "a");
    EXPECT_EQ(copy.back(), "b");
    EXPECT_EQ(std::find(copy.begin(), copy.end(), Text("b")) - copy.begin(), 1);
    EXPECT_TRUE(copy.sharesElementsWith(original));
}

TEST(CowVector, PositionsFromSharedElementsStayMeaningful)
{
    CowVector<Text> original { "a", "b", "c", "d" };
    CowVector<Text> copy = original;
    // Iterators taken before the copy is made unique still name the same positions.
    auto second = copy.cbegin() + 1;
    copy.erase(second);
    EXPECT_EQ(copy, (std::vector<Text> { "a", "c", "d" }));
    copy.insert(copy.cbegin() + 1, Text("x"));
    EXPECT_EQ(copy, (std::vector<Text> { "a", "x", "c", "d" }));
    copy.erase(copy.cbegin() + 2, copy.cend());
    EXPECT_EQ(copy, (std::vector<Text> { "a", "x" }));
    EXPECT_EQ(original, (std::vector<Text> { "a", "b", "c", "d" }));
}

TEST(CowVector, EraseIfLeavesSharedElementsAloneWhenNothingMatches)
{
    CowVector<Text> original { "a", "b", "a" };
    CowVector<Text> copy = original;
    EXPECT_EQ(erase_if(copy, [](const Text& t) { return t == "z"; }), 0u);
    EXPECT_TRUE(copy.sharesElementsWith(original));
    EXPECT_EQ(erase_if(copy, [](const Text& t) { return t == "a"; }), 2u);
    EXPECT_EQ(copy, (std::vector<Text> { "b" }));
    EXPECT_EQ(original.size(), 3u);
}

TEST(CowVector, EmptyAndClearedListsAreEqual)
{
    CowVector<Text> empty;
    CowVector<Text> cleared { "a" };
    cleared.clear();
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty, cleared);
    cleared.push_back("b");
    EXPECT_EQ(cleared.size(), 1u);
}

}  // namespace
}  // namespace quorvane
