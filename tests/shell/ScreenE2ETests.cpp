// The window as the user sees it, with the interface page when it is built (else the test
// page), in both appearances: pictures for people to look at, in <build>/test-artifacts/shell.

#include "ShellHarness.hpp"

namespace quorvane::testing {
namespace {

TEST_F(ShellTest, PicturesOfTheWindow)
{
    std::filesystem::path interfacePage = std::filesystem::path(QUORVANE_TEST_DATA_DIR) / "UI";
    bool realPage = std::filesystem::exists(interfacePage / "index.html");
    if (realPage)
        pageFolder = interfacePage;
    launch();
    ASSERT_TRUE(runUntil([&] { return shell().ready(); }));
    std::filesystem::path folder = QUORVANE_TEST_ARTIFACTS_DIR;
    std::string name = realPage ? "interface" : "test-page";
    shell().controller()->onChange = nullptr;  // only the states below
    for (bool dark : { false, true }) {
        ClientState state = shell().controller()->snapshot();
        state.theme = dark ? Theme::dark : Theme::light;
        shell().publish(state);
        // The picture is taken once the page shows this state: the window's layout on screen and
        // the theme applied (the test page has neither, so it only gets time to draw).
        std::string theme = dark ? "dark" : "light";
        if (realPage) {
            ASSERT_TRUE(runUntil([&] {
                return page("return document.querySelector('.window') !== null && "
                            "document.documentElement.dataset.theme === '"
                           + theme + "';")
                    == boost::json::value(true);
            })) << "the page never showed the "
                << theme << " window";
        }
        runFor(0.5);  // a few frames for GTK to draw what the page laid out
        screenshot(folder / (name + (dark ? "-dark.png" : "-light.png")));
    }
}

}  // namespace
}  // namespace quorvane::testing
