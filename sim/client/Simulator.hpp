#pragma once

// The Dot simulator for one test or benchmark: started on a free port with its own state folder
// and a dot-service.json written for it, stopped (and reaped) when the object goes away. Its standard
// input is a pipe from us, and it runs with --exit-with-stdin, so even a crashed test leaves no
// simulator behind.

#include <filesystem>
#include <string>
#include <vector>

#include <boost/json/value.hpp>
#include <glib.h>

namespace quorvane::testing {

class Simulator {
public:
    explicit Simulator(const std::filesystem::path& folder, std::vector<std::string> options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void stop();
    // Starts it again after stop(), on the same port and state folder (so the same certificate
    // and conversations), as a service that comes back after an outage.
    void restart();

    // A control call (POST with a JSON body, or GET); throws on a status other than 200.
    boost::json::value control(const std::string& name, const std::string& body = "{}");
    boost::json::value controlGet(const std::string& name);

    std::string origin;  // https://127.0.0.1:<port>
    std::filesystem::path configFile;  // the dot-service.json pointing at it

private:
    void spawn(const std::string& port);
    std::filesystem::path folder_;
    std::vector<std::string> options_;
    boost::json::value request(const char* method, const std::string& path, const std::string& body);
    GPid pid_ = 0;
    int stdinFd_ = -1;
};

}  // namespace quorvane::testing
