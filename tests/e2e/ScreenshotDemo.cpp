// The headless demo behind `scripts/run --screenshot FILE`: starts the Dot simulator and the
// real program on throw-away data (the caller provides the private session bus, keyring and X
// server), holds a short conversation through the interface page as a person would, and writes
// a PNG of the main window to FILE.

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
        app.run("window.postMessage({ quorvane: { id: 'demo-connect', command: 'connect', data: {} } }, '*');");
        auto connected = waitForState(app, "the connection \"connected\"",
            [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; });
        if (!connected)
            throw std::runtime_error(connected.message());
        Conversation chat(app);
        for (const char* words :
            { "Plan a picnic for four on Saturday.", "Make it vegetarian, and add something sweet." }) {
            chat.awaitFiledReply(chat.send(words));
        }
        const std::string draft = "Who brings the blanket?";
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
