// How the adapter's return values become results and errors. The values come from a real
// JavaScriptCore context, as WebKit hands them over.

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/browser/AdapterResult.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {
namespace {

class AdapterResultTest : public ::testing::Test {
protected:
    GObjectPtr<JSCValue> evaluate(const std::string& script)
    {
        return GObjectPtr<JSCValue>::adopt(jsc_context_evaluate(context.get(), script.c_str(), gssize(script.size())));
    }
    // "ok", or the kind and message of what was thrown.
    std::string outcomeOf(const std::function<void()>& check)
    {
        try {
            check();
            return "ok";
        } catch (const NotSubmitted& refused) {
            return "NotSubmitted: " + refused.message;
        } catch (const AppFailure& failure) {
            return "AppFailure: " + failure.message;
        } catch (const JsonDecodeError& error) {
            return std::string("JsonDecodeError: ") + error.what();
        }
    }
    GObjectPtr<JSCContext> context = GObjectPtr<JSCContext>::adopt(jsc_context_new());
};

TEST_F(AdapterResultTest, ActionOutcomes)
{
    const struct {
        const char* script;
        std::string expected;
    } cases[] = {
        { "({ok: true})", "ok" },
        { "({ok: true, reason: 'ignored'})", "ok" },
        { "({ok: false, reason: 'Sign in to Dot to send your message.'})",
            "NotSubmitted: Sign in to Dot to send your message." },
        { "({ok: false, reason: ''})", "NotSubmitted: " },
        { "({ok: false})", "NotSubmitted: Your message is saved. We’ll try again." },
        { "({ok: false, reason: 42})", "NotSubmitted: Your message is saved. We’ll try again." },
        { "null", "AppFailure: Dot is still loading." },
        { "undefined", "AppFailure: Dot is still loading." },
        { "({})", "AppFailure: We’re checking whether your message was sent." },
        { "({sent: 'unknown'})", "AppFailure: We’re checking whether your message was sent." },
        { "({ok: 'true'})", "AppFailure: We’re checking whether your message was sent." },
        { "({ok: 1})", "AppFailure: We’re checking whether your message was sent." },
        { "true", "AppFailure: We’re checking whether your message was sent." },
        { "'ok'", "AppFailure: We’re checking whether your message was sent." },
        { "[true]", "AppFailure: We’re checking whether your message was sent." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        auto value = evaluate(c.script);
        EXPECT_EQ(outcomeOf([&] { checkAdapterOutcome(value.get()); }), c.expected);
    }
    EXPECT_EQ(outcomeOf([] { checkAdapterOutcome(nullptr); }), "AppFailure: Dot is still loading.");
}

TEST_F(AdapterResultTest, SnapshotsDecodeOrFailWithTheDecodingError)
{
    const std::string base = "url: 'https://dot.example/dots/home', ready: true, busy: false, reason: '', draft: ''";
    auto snapshot = snapshotFromAdapter(evaluate("({" + base
        + ", messages: [{id: 'a', role: 'user', text: 'Hi', extra: 1}, {id: 'b', role: 'assistant', text: 'Hello', "
          "html: '<p>Hello</p>', attachments: [{id: 'f', kind: 'file', title: 'notes.txt'}]}], profileName: 'Dot'})")
                                            .get());
    EXPECT_EQ(snapshot.url, "https://dot.example/dots/home");
    EXPECT_TRUE(snapshot.ready);
    ASSERT_EQ(snapshot.messages.size(), 2u);
    EXPECT_EQ(snapshot.messages[1].html, std::optional<Text>("<p>Hello</p>"));
    ASSERT_TRUE(snapshot.messages[1].attachments);
    EXPECT_EQ(snapshot.messages[1].attachments->at(0).title, "notes.txt");
    EXPECT_EQ(snapshot.profileName, std::optional<Text>("Dot"));
    EXPECT_FALSE(snapshot.requiresSignIn);

    const struct {
        std::string script;
        std::string expected;
    } failures[] = {
        { "null", "AppFailure: Dot is still loading." },
        { "undefined", "AppFailure: Dot is still loading." },
        { "(() => { const o = {}; o.self = o; return o; })()",
            "AppFailure: The Dot page snapshot couldn’t be read: JSON.stringify cannot serialize cyclic structures." },
        { "({" + base + "})", "JsonDecodeError: missing key \"messages\"" },
        { "({" + base + ", messages: [{id: 'a', role: 'user'}]})",
            "JsonDecodeError: messages.0: missing key \"text\"" },
        { "({" + base + ", messages: 'none'})", "JsonDecodeError: messages: expected an array, found a string" },
        { "({url: 'x', ready: 'yes', busy: false, reason: '', draft: '', messages: []})",
            "JsonDecodeError: ready: expected a boolean, found a string" },
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.script);
        auto value = evaluate(c.script);
        EXPECT_EQ(outcomeOf([&] { snapshotFromAdapter(value.get()); }), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
