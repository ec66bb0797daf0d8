// Run-time options of the sanitizers, compiled into every test executable of a sanitizer build
// (QUORVANE_SANITIZE), so that a test run from the build folder behaves the same as the one
// scripts/test makes. Environment variables (ASAN_OPTIONS, UBSAN_OPTIONS) still override them.

extern "C" {

// LeakSanitizer's tracer crashes on the dynamic TLS blocks it tracks through __tls_get_addr in
// threads that touched a dlopen'ed module (GIO's TLS module, loaded by the avatar fetcher's
// tests): GCC 12's runtime misreads this glibc's thread vector, and the crash is reported as
// "LeakSanitizer does not work under ptrace". Without the interception those blocks are plain
// heap blocks to it; leak checking itself stays on.
const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }

// Stack traces for every report, so a finding can be read from the test log alone; the
// suppressions file says what it leaves out and why.
const char* __ubsan_default_options() { return "print_stacktrace=1:suppressions=" QUORVANE_UBSAN_SUPPRESSIONS; }

}  // extern "C"
