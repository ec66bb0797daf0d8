#pragma once

// The shell's own scripts for the interface page, built into the program from web/bridge/ so
// that no installed file can be missing or swapped: the relay (the page's one way to the
// application, run in the shell's world) and the state transport (run in the page's world).

namespace quorvane::bridge_scripts {

extern const char* const relay;
extern const char* const stateTransport;

}  // namespace quorvane::bridge_scripts
