// Dating reply parts and folding newer readings of a reply into the stored parts.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

using Files = std::vector<MessageAttachment>;
using Parts = std::vector<ReplyPart>;

ReplyPart part(std::string_view id, std::string_view text, std::optional<Date> date = std::nullopt,
    std::optional<std::string_view> html = std::nullopt, std::optional<Files> attachments = std::nullopt)
{
    ReplyPart made { Text(id), Text(text), std::nullopt, date, std::move(attachments) };
    if (html)
        made.html = Text(*html);
    return made;
}

TEST(DatedReplyParts, KeepsKnownDatesAndDatesNewParts)
{
    struct Case {
        const char* name;
        Parts parts;
        std::optional<Parts> previous;
        std::optional<Date> observedAt;
        std::vector<std::optional<Date>> dates;
    };
    const std::vector<Case> cases = {
        { "no previous parts", { part("p1", "a"), part("p2", "b", 5), part("p3", "c") }, std::nullopt, 20,
            { 10, 5, 20 } },
        { "previous dates win, even an absent one", { part("p1", "a"), part("p2", "b", 5), part("p3", "c") },
            Parts { part("p3", "c", 7), part("p2", "b") }, 20, { 10, std::nullopt, 7 } },
        { "the first part keeps its own date", { part("p1", "a", 3), part("p2", "b") }, Parts {}, 20, { 3, 20 } },
        { "no observation time", { part("p1", "a"), part("p2", "b") }, std::nullopt, std::nullopt,
            { 10, std::nullopt } },
        { "a known first part is not given the first date", { part("p1", "a"), part("p2", "b") },
            Parts { part("p1", "a", 1) }, 20, { 1, 20 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parts dated = datedReplyParts(c.parts, c.previous, 10, c.observedAt);
        ASSERT_EQ(dated.size(), c.parts.size());
        for (std::size_t i = 0; i < dated.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(dated[i].date, c.dates[i]);
            ReplyPart undated = dated[i];
            undated.date = c.parts[i].date;
            EXPECT_EQ(undated, c.parts[i]);
        }
    }
}

TEST(MergedReplyParts, FoldsNewerReadingsIntoStoredParts)
{
    struct Case {
        const char* name;
        Parts parts;
        std::optional<Parts> previous;
        Parts expected;
    };
    const std::vector<Case> cases = {
        { "older shorter reading keeps the stored part", { part("p", "Hello", 9, "<p>Hello</p>") },
            Parts { part("p", "Hello world", 1) }, { part("p", "Hello world", 1) } },
        { "different text replaces it, keeping the stored date", { part("p", "Hello there", 9) },
            Parts { part("p", "Hello world", 1) }, { part("p", "Hello there", 1) } },
        { "longer reading replaces it", { part("p", "Hello world, friend") }, Parts { part("p", "Hello world", 1) },
            { part("p", "Hello world, friend", 1) } },
        { "stored part without a date takes the new date", { part("p", "Hi there", 9) }, Parts { part("p", "Hi") },
            { part("p", "Hi there", 9) } },
        { "a byte prefix that is not shorter in characters replaces it", { part("p", "e", 9) },
            Parts { part("p", "e\u0301", 1) }, { part("p", "e", 1) } },
        { "equal text without HTML keeps the stored HTML", { part("p", "Hi") },
            Parts { part("p", "Hi", 1, "<p>Hi</p>") }, { part("p", "Hi", 1, "<p>Hi</p>") } },
        { "equal text with empty HTML keeps the stored HTML", { part("p", "Hi", std::nullopt, "") },
            Parts { part("p", "Hi", 1, "<p>Hi</p>") }, { part("p", "Hi", 1, "<p>Hi</p>") } },
        { "equal text with new HTML takes it", { part("p", "Hi", std::nullopt, "<b>Hi</b>") },
            Parts { part("p", "Hi", 1, "<p>Hi</p>") }, { part("p", "Hi", 1, "<b>Hi</b>") } },
        { "changed text never borrows old HTML", { part("p", "Hi!") }, Parts { part("p", "Hi", 1, "<p>Hi</p>") },
            { part("p", "Hi!", 1) } },
        { "missing attachments are kept", { part("p", "Hi!") },
            Parts { part("p", "Hi", 1, std::nullopt, Files { attachment("f1") }) },
            { part("p", "Hi!", 1, std::nullopt, Files { attachment("f1") }) } },
        { "empty attachments are filled", { part("p", "Hi!", std::nullopt, std::nullopt, Files {}) },
            Parts { part("p", "Hi", 1, std::nullopt, Files { attachment("f1") }) },
            { part("p", "Hi!", 1, std::nullopt, Files { attachment("f1") }) } },
        { "new attachments replace the old",
            { part("p", "Hi!", std::nullopt, std::nullopt, Files { attachment("f2") }) },
            Parts { part("p", "Hi", 1, std::nullopt, Files { attachment("f1") }) },
            { part("p", "Hi!", 1, std::nullopt, Files { attachment("f2") }) } },
        { "stored order first, new ids at the end", { part("c", "C"), part("a", "A2") },
            Parts { part("a", "A", 1), part("b", "B", 2) }, { part("a", "A2", 1), part("b", "B", 2), part("c", "C") } },
        { "no previous parts, repeated new ids fold together", { part("x", "Hel", 5), part("x", "Hello", 6) },
            std::nullopt, { part("x", "Hello", 5) } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mergedReplyParts(c.parts, c.previous), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
