#pragma once

// A GError carried as a C++ exception, so that a failed GIO-style call can be thrown across
// co_await and caught by domain and code.

#include <stdexcept>
#include <string>

#include <glib.h>

namespace quorvane {

class GLibError : public std::runtime_error {
public:
    GLibError(GQuark domain, int code, const std::string& message)
        : std::runtime_error(message)
        , domain(domain)
        , code(code)
    {
    }
    // Takes over *error (which must be set) and clears it.
    static GLibError take(GError*& error);
    [[noreturn]] static void raise(GError*& error) { throw take(error); }

    bool matches(GQuark d, int c) const { return domain == d && code == c; }

    GQuark domain;
    int code;
};

}  // namespace quorvane
