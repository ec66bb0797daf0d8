// The main screens in light and dark: each is checked with axe-core inside the engine (no
// serious or critical violation) and photographed into <build>/test-artifacts/interface/, so
// anyone can look at what the user sees.

#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "PageHost.hpp"
#include "Scenes.hpp"

namespace quorvane::testing {
namespace {

struct Screen {
    const char* name;
    SceneState (*scene)();
    const char* open;  // script that opens a dialog, or ""
};

SceneState editorScene()
{
    SceneState state = busyConversation();
    for (const auto& bot : state.vault.account().bots)
        if (bot.name == "Ada")
            state.vault.account().selectedBot = bot.id;
    state.vault.account().unreadBots.reset();
    return state;
}
SceneState streamingScene() { return streamingReply(); }
SceneState settingsScene()
{
    SceneState state = busyConversation();
    state.vault.account().unreadBots.reset();
    return state;
}
SceneState fileIssueScene()
{
    SceneState state = settingsScene();
    state.fileIssue = "Quorvane couldn\u2019t save \u201cDot 2026-12-10.md\u201d: No space left on device.";
    return state;
}

const Screen kScreens[] = {
    { "empty-crew", emptyCrew, "" },
    { "busy-conversation", busyConversation, "" },
    { "streaming-reply", streamingScene, "" },
    { "sign-in-needed", signInNeeded, "" },
    { "storage-unavailable", storageUnavailable, "" },
    { "bot-editor", editorScene, "document.querySelector('.main-header button[aria-label^=\"Edit\"]').click();" },
    { "settings", settingsScene, "document.querySelector('.sidebar-header button[aria-label=\"Settings\"]').click();" },
    { "export", settingsScene, "document.querySelector('.main-header button[title^=\"Export\"]').click();" },
    { "file-issue", fileIssueScene, "" },
    { "handoff-timeline", runawayCrew,
        "[...document.querySelectorAll('.message.user .link-button')].find((b) => b.textContent.endsWith('handoffs')).click();" },
};

void PrintTo(const Screen& screen, std::ostream* out) { *out << screen.name; }

std::string readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

class MainScreen : public ::testing::TestWithParam<Screen> { };

TEST_P(MainScreen, IsAccessibleAndPhotographedInBothThemes)
{
    const Screen& screen = GetParam();
    PageHost host;
    host.load();
    host.receiveUpdateState(
        R"({"configured":true,"status":"current","version":"0.1.0","automaticallyChecks":true,"canCheck":true})");
    ASSERT_EQ(host.run(readFile(QUORVANE_AXE_SCRIPT) + "\nreturn typeof window.axe;"), "\"object\"");
    for (Theme theme : { Theme::light, Theme::dark }) {
        const std::string themeName(toString(theme));
        SCOPED_TRACE(themeName);
        SceneState state = screen.scene();
        state.vault.theme = theme;
        host.receiveState(encodeState(state));
        host.settle();
        if (*screen.open) {
            host.run(std::string(screen.open) + " return true;");
            host.settle();
        }
        runFor(0.5);  // let entrance animations finish
        host.settle();
        host.screenshot(
            std::filesystem::path(QUORVANE_TEST_ARTIFACTS) / (std::string(screen.name) + "-" + themeName + ".png"));
        std::string violations = host.run(R"js(
          const result = await axe.run(document, { resultTypes: ['violations'] });
          return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
            .map((v) => v.id + ' (' + v.impact + '): ' + v.nodes.slice(0, 3).map((n) => n.target.join(' ') + ' ' + (n.failureSummary || '').replace(/\s+/g, ' ')).join(' | '));)js");
        EXPECT_EQ(violations, "[]") << screen.name << " in " << theme;
        if (*screen.open)
            host.run("document.querySelector('.modal')?.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape', "
                     "bubbles: true})); return true;");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Interface, MainScreen, ::testing::ValuesIn(kScreens), [](const ::testing::TestParamInfo<Screen>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

}  // namespace
}  // namespace quorvane::testing
