// The headless demo behind `scripts/run --screenshot FILE`: starts the Dot simulator and the
// real program on throw-away data (the caller provides the private session bus, keyring and X
// server), holds a crew conversation through the interface page as a person would (two teammates
// added, the primary bot asked to involve one, the handoff run to the end), and writes a PNG of
// the main window to FILE.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include <glib.h>

#include "AppProcess.hpp"
#include "Conversation.hpp"
#include "EndToEndTest.hpp"
#include "Simulator.hpp"

using namespace quorvane::testing;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
        return 2;
    }
    const std::filesystem::path output = std::filesystem::absolute(argv[1]);
    char* scratch = g_dir_make_tmp("quorvane-demo-XXXXXX", nullptr);
    if (!scratch) {
        std::fprintf(stderr, "The demo could not make a folder for its data.\n");
        return 1;
    }
    const std::filesystem::path folder = scratch;
    g_free(scratch);
    int status = 0;
    try {
        Simulator sim(folder / "sim", { "--signed-in", "--profile-name", "Dot" });
        AppProcess app(QUORVANE_PROGRAM, folder / "app", sim.configFile);
        app.start();
        Conversation chat(app);
        chat.connect();
        const std::string muse = chat.addTeammate("Muse", "A poet who answers in short verse.");
        chat.addTeammate("Sage", "A careful reviewer who checks facts.");
        // The primary bot, "dot", is the one asked; the editor left the last teammate selected.
        const std::string primary = "dot";
        chat.select(primary);
        chat.awaitHandoff(
            chat.send("Plan a picnic by the sea, and ask Muse to write a haiku for the invitation."), primary, muse);
        const std::string draft = "Sage, can you check the tide times for Saturday?";
        chat.type(draft);
        if (chat.composerText() != draft)
            throw std::runtime_error("The composer did not take the draft.");
        // Two animation frames, and a moment for the web process's frame to reach the window:
        // the picture shows the page as it stands.
        app.run("await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))); return true;");
        g_usleep(1000000);
        app.screenshot(output);
        app.quit();
        std::printf("The main window is in %s\n", output.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "The demo failed: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
