#include <string>

#include <gtest/gtest.h>

#include "OrchestrationFixture.hpp"

namespace quorvane {
namespace {

using testing::makeBot;

TEST(ExplicitTeammate, MatchesAnAtSignAndOneTeammatesNameAtTheStart)
{
    Account account = Account::fresh();
    account.bots = {
        makeBot("dot", "Dot"),
        makeBot("muse", "Muse"),
        makeBot("museum", "Museum"),
        makeBot("guru", "C++ Guru"),
        makeBot("who", "Dr. (Who)"),
        makeBot("quote", "Q\\E* [x]"),
        makeBot("elan", "\u00C9lan"),
        makeBot("ghost", "Ghost", true),
        makeBot("twin1", "Twin"),
        makeBot("twin2", "twin"),
        makeBot("writer", "Writer"),
    };
    struct Case {
        const char* text;
        const char* excluding;
        std::optional<const char*> expected;
    };
    const Case cases[] = {
        { "@muse, any ideas?", "dot", "muse" },
        { "@MUSE any ideas?", "dot", "muse" },
        { "@Muse\nany ideas?", "dot", "muse" },
        { "@Muse.", "dot", "muse" },
        { "@Muse: go", "dot", "muse" },
        { "@Muse! go", "dot", "muse" },
        { "@Muse?", "dot", "muse" },
        { "@Muse", "dot", "muse" },
        { "@Museum plans", "dot", "museum" },
        { "@Musea plans", "dot", std::nullopt },
        { "@Muse- go", "dot", std::nullopt },
        { " @Muse go", "dot", std::nullopt },
        { "Hi @Muse go", "dot", std::nullopt },
        { "Muse go", "dot", std::nullopt },
        { "Intro\n@Muse go", "dot", std::nullopt },
        { "@Muse go", "muse", std::nullopt },
        { "@C++ Guru help", "dot", "guru" },
        { "@c++ guru, help", "dot", "guru" },
        { "@CC Guru help", "dot", std::nullopt },
        { "@C Guru help", "dot", std::nullopt },
        { "@Dr. (Who) help", "dot", "who" },
        { "@DrX (Who) help", "dot", std::nullopt },
        { "@Dr. Who help", "dot", std::nullopt },
        { "@Q\\E* [x] help", "dot", "quote" },
        { "@Q\\EEE x help", "dot", std::nullopt },
        { "@\u00E9lan hello", "dot", "elan" },
        { "@Ghost hello", "dot", std::nullopt },
        { "@Dot hello", "muse", std::nullopt },
        { "@Twin hello", "dot", std::nullopt },
        { "@Twin hello", "twin1", "twin2" },
        { "@Writer", "dot", "writer" },
        { "", "dot", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto found = account.explicitTeammate(c.text, c.excluding);
        ASSERT_EQ(found.has_value(), c.expected.has_value());
        if (found) {
            EXPECT_EQ(found->id, *c.expected);
        }
    }
}

}  // namespace
}  // namespace quorvane
