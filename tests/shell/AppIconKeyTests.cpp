// Which icon a state asks for.

#include <gtest/gtest.h>

#include "quorvane/shell/AppIconPublisher.hpp"

namespace quorvane {
namespace {

TEST(AppIconKey, IsThePrimaryBotsImageOnlyForTheDotStyle)
{
    auto bot = [](const char* id, std::optional<Text> image) {
        Bot b;
        b.id = id;
        b.name = id;
        b.image = std::move(image);
        return b;
    };
    const Text picture = "data:image/png;base64,AAAA";
    struct Case {
        const char* name;
        AppIconStyle style;
        std::vector<Bot> bots;
        std::string key;
    };
    const Case cases[] = {
        { "dot style, primary bot with image", AppIconStyle::dot, { bot("dot", picture) }, picture.str() },
        { "dot style, primary bot later in the list", AppIconStyle::dot,
            { bot("muse", Text("x")), bot("dot", picture) }, picture.str() },
        { "first primary bot counts", AppIconStyle::dot, { bot("dot", std::nullopt), bot("dot", picture) },
            "quorvane" },
        { "dot style, no image", AppIconStyle::dot, { bot("dot", std::nullopt) }, "quorvane" },
        { "dot style, no primary bot", AppIconStyle::dot, { bot("ceo", picture) }, "quorvane" },
        { "default style", AppIconStyle::quorvane, { bot("dot", picture) }, "quorvane" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientState state;
        state.appIconStyle = c.style;
        state.account.bots = c.bots;
        EXPECT_EQ(AppIconPublisher::keyFor(state), c.key);
    }
}

}  // namespace
}  // namespace quorvane
