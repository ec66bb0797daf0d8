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
        { "({outcome: 'unknown'})", "AppFailure: We’re checking whether your message was sent." },
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

TEST_F(AdapterResultTest, SnapshotAnswersAreJsonText)
{
    auto answer = snapshotAnswer(evaluate("JSON.stringify({base: '', text: 'Grüße \\ud83d'})").get());
    EXPECT_STREQ(answer.get(), "{\"base\":\"\",\"text\":\"Grüße \\ud83d\"}") << "a lone surrogate stays an escape";

    const struct {
        const char* script;
        std::string expected;
    } failures[] = {
        { "null", "AppFailure: Dot is still loading." },
        { "undefined", "AppFailure: Dot is still loading." },
        { "({url: 'https://dot.example/dots/home'})", "AppFailure: The Dot page snapshot couldn’t be read." },
        { "42", "AppFailure: The Dot page snapshot couldn’t be read." },
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.script);
        auto value = evaluate(c.script);
        EXPECT_EQ(outcomeOf([&] { snapshotAnswer(value.get()); }), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
