#include <string>

#include <gtest/gtest.h>

#include "OrchestrationFixture.hpp"
#include "quorvane/Orchestration.hpp"

namespace quorvane {
namespace {

using Kind = HandoffEnvelope::Kind;
using testing::fenced;
using testing::repeated;

const std::string kSimple = R"({"request_id":"R1","to":"beta","task":"Draft it"})";

TEST(HandoffEnvelope, RecognisesLabelsAndCutsTheObject)
{
    struct Case {
        const char* name;
        std::string text;
        Kind kind;
    };
    const Case cases[] = {
        { "plain prose", "Here is the plan, no handoff needed.", Kind::none },
        { "empty text", "", Kind::none },
        { "fenced block", fenced(kSimple), Kind::valid },
        { "fenced block after prose on the same line", "Handing this on: ```quorvane-handoff\n" + kSimple + "\n```",
            Kind::valid },
        { "bare label at line start", "Plan:\nquorvane-handoff\n" + kSimple, Kind::valid },
        { "bare label after spaces and tabs", "Plan:\n \t quorvane-handoff " + kSimple, Kind::valid },
        { "bare label in the middle of a line", "use quorvane-handoff " + kSimple, Kind::none },
        { "label run into more word characters", "```quorvane-handoffs\n" + kSimple, Kind::none },
        { "bare label run into digits", "quorvane-handoff2 " + kSimple, Kind::none },
        { "label in another letter case", "```Quorvane-Handoff\n" + kSimple, Kind::none },
        { "label on a later line after CRLF", "Plan:\r\n  quorvane-handoff\r\n" + kSimple, Kind::valid },
        { "label followed by a hyphen ends at a boundary", "quorvane-handoff-x " + kSimple, Kind::invalid },
        { "prose and fence after the object are ignored", fenced(kSimple) + "\nLet me know {", Kind::valid },
        { "two well-formed blocks", fenced(kSimple) + "\n" + fenced(kSimple), Kind::invalid },
        { "label named in prose, then a block", "quorvane-handoff is the label.\n" + fenced(kSimple), Kind::invalid },
        { "label with nothing after it", "```quorvane-handoff", Kind::incomplete },
        { "label with only white space after it", "```quorvane-handoff\n  \r\n\t", Kind::incomplete },
        { "object cut off", "```quorvane-handoff\n{\"request_id\":\"R1\",\"to\":\"beta\"", Kind::incomplete },
        { "object cut off inside a string", "```quorvane-handoff\n{\"request_id\":\"R1\",\"task\":\"a } b",
            Kind::incomplete },
        { "object cut off after an escape", "```quorvane-handoff\n{\"request_id\":\"R1\",\"task\":\"a \\",
            Kind::incomplete },
        { "an array instead of an object", "```quorvane-handoff\n[" + kSimple + "]", Kind::invalid },
        { "prose before the object", "```quorvane-handoff\nsure: " + kSimple, Kind::invalid },
        { "Unicode spaces and line separators before the object", "```quorvane-handoff\u00A0\u2028\u3000" + kSimple,
            Kind::valid },
        { "not JSON inside the braces", "```quorvane-handoff\n{request_id: R1}\n```", Kind::invalid },
        { "trailing comma", fenced(R"({"request_id":"R1","to":"beta","task":"x",})"), Kind::invalid },
        { "comment", fenced(R"({"request_id":"R1", /* hi */ "to":"beta","task":"x"})"), Kind::invalid },
        { "malformed UTF-8 in a string", fenced("{\"request_id\":\"R1\",\"task\":\"\xC3\x28\",\"to\":\"beta\"}"),
            Kind::invalid },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(handoffEnvelope(c.text).kind, c.kind);
        EXPECT_EQ(handoffEnvelope(c.text).directive.has_value(), c.kind == Kind::valid);
        EXPECT_EQ(isHandoffResponse(c.text), c.kind != Kind::none);
        EXPECT_EQ(handoffResponseIsIncomplete(c.text), c.kind == Kind::incomplete);
    }
}

TEST(HandoffEnvelope, BracesAndQuotesInsideStringsDoNotCount)
{
    struct Case {
        const char* name;
        std::string json;
        std::string task;
    };
    const Case cases[] = {
        { "unbalanced braces", R"({"request_id":"R1","to":"beta","task":"use } then {{ here"})", "use } then {{ here" },
        { "escaped quotes around a brace", R"({"request_id":"R1","to":"beta","task":"say \"}\" loudly"})",
            "say \"}\" loudly" },
        { "escaped backslash before the closing quote", R"({"request_id":"R1","to":"beta","task":"path C:\\"})",
            "path C:\\" },
        { "nested unknown object", R"({"request_id":"R1","meta":{"x":{"y":"}"}},"to":"beta","task":"t"})", "t" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto envelope = handoffEnvelope(fenced(c.json) + "\n}}} trailing");
        ASSERT_EQ(envelope.kind, Kind::valid);
        EXPECT_EQ(envelope.directive->task, c.task);
    }
}

TEST(HandoffEnvelope, DecodesTheDirectiveKeysExactly)
{
    struct Case {
        const char* name;
        std::string json;
        std::optional<HandoffDirective> expected;  // absent: invalid
    };
    auto directive = [](std::string id, std::optional<std::string> to, std::optional<std::string> task,
                         std::optional<std::vector<HandoffAssignment>> list) {
        return HandoffDirective { std::move(id), std::move(to), std::move(task), std::move(list) };
    };
    const Case cases[] = {
        { "single form", R"({"request_id":"R1","to":"beta","task":"Draft"})", directive("R1", "beta", "Draft", {}) },
        { "list form", R"({"request_id":"R1","handoffs":[{"to":"beta","task":"A"},{"to":"gamma","task":"B"}]})",
            directive("R1", {}, {}, std::vector<HandoffAssignment> { { "beta", "A" }, { "gamma", "B" } }) },
        { "unknown keys ignored",
            R"({"request_id":"R1","why":[1,{"a":null}],"handoffs":[{"to":"b","task":"t","n":2}]})",
            directive("R1", {}, {}, std::vector<HandoffAssignment> { { "b", "t" } }) },
        { "only the request id", R"({"request_id":"R1"})", directive("R1", {}, {}, {}) },
        { "escapes decoded", R"({"request_id":"R1","to":"beta","task":"caf\u00e9 \ud83d\ude00\n"})",
            directive("R1", "beta", "caf\u00e9 \U0001F600\n", {}) },
        { "missing request id", R"({"to":"beta","task":"Draft"})", std::nullopt },
        { "request id a number", R"({"request_id":7,"to":"beta","task":"Draft"})", std::nullopt },
        { "to null", R"({"request_id":"R1","to":null,"task":"Draft"})", std::nullopt },
        { "task an array", R"({"request_id":"R1","to":"beta","task":["Draft"]})", std::nullopt },
        { "handoffs an object", R"({"request_id":"R1","handoffs":{"to":"beta","task":"A"}})", std::nullopt },
        { "assignment without a task", R"({"request_id":"R1","handoffs":[{"to":"beta"}]})", std::nullopt },
        { "assignment task a number", R"({"request_id":"R1","handoffs":[{"to":"beta","task":1}]})", std::nullopt },
        { "assignment a string", R"({"request_id":"R1","handoffs":["beta"]})", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto envelope = handoffEnvelope(fenced(c.json));
        if (!c.expected) {
            EXPECT_EQ(envelope.kind, Kind::invalid);
            continue;
        }
        ASSERT_EQ(envelope.kind, Kind::valid);
        EXPECT_TRUE(envelope.directive == c.expected);
    }
}

TEST(HandoffEnvelope, HostileSizesAreInvalidNotFatal)
{
    auto nestedObjects = [](std::size_t depth) { return repeated(R"({"a":)", depth) + "1" + repeated("}", depth); };
    auto withNested = [&](std::size_t depth) {
        return R"({"request_id":"R1","to":"beta","task":"t","x":)" + nestedObjects(depth) + "}";
    };
    struct Case {
        const char* name;
        std::string text;
        Kind kind;
    };
    const Case cases[] = {
        { "moderate nesting in an ignored key", fenced(withNested(20)), Kind::valid },
        { "deep nesting", fenced(withNested(200)), Kind::invalid },
        { "very deep nesting", fenced(withNested(200000)), Kind::invalid },
        { "deep arrays", fenced(R"({"request_id":"R1","x":)" + repeated("[", 300000) + repeated("]", 300000) + "}"),
            Kind::invalid },
        { "a huge complete object",
            fenced(R"({"request_id":"R1","to":"beta","task":")" + repeated("x", 2 << 20) + "\"}"), Kind::invalid },
        { "a huge unfinished object", "```quorvane-handoff\n{\"request_id\":\"" + repeated("x", 2 << 20),
            Kind::invalid },
        { "endless opening braces", "```quorvane-handoff\n" + repeated("{", 3 << 20), Kind::invalid },
        { "a small object in a huge reply", repeated("prose ", 500000) + "\n" + fenced(kSimple), Kind::valid },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(handoffEnvelope(c.text).kind, c.kind);
    }
}

TEST(HandoffDirective, AssignmentsTakeOneFormOnly)
{
    const std::vector<HandoffAssignment> list { { "beta", "A" }, { "gamma", "B" } };
    struct Case {
        const char* name;
        HandoffDirective directive;
        std::vector<HandoffAssignment> expected;
    };
    const Case cases[] = {
        { "list only", { "R", {}, {}, list }, list },
        { "single only", { "R", "beta", "Draft", {} }, { { "beta", "Draft" } } },
        { "list and to", { "R", "beta", {}, list }, {} },
        { "list and task", { "R", {}, "Draft", list }, {} },
        { "to without task", { "R", "beta", {}, {} }, {} },
        { "task without to", { "R", {}, "Draft", {} }, {} },
        { "empty list", { "R", {}, {}, std::vector<HandoffAssignment> {} }, {} },
        { "nothing", { "R", {}, {}, {} }, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.directive.assignments(), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
