#include "quorvane/shell/ShellOptions.hpp"

#include <cstdlib>
#include <string_view>
#include <system_error>

namespace quorvane {

ShellOptions defaultOptions()
{
    ShellOptions options;
    if (const char* separate = std::getenv("QUORVANE_SEPARATE_INSTANCE"); separate && std::string_view(separate) == "1")
        options.separateInstance = true;
    // Off unless asked for in so many words: see TestDriver.hpp.
    if (const char* driver = std::getenv("QUORVANE_TEST_DRIVER"); driver && std::string_view(driver) == "1")
        options.testDriver = true;
    if (const char* named = std::getenv("QUORVANE_DATA_DIR"); named && *named == '/') {
        options.dataDirectory = named;
        return options;
    }
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        options.dataDirectory = (program.parent_path() / ".." / "share" / "quorvane").lexically_normal();
    return options;
}

}  // namespace quorvane
