// How a fuzz target reports a broken property: a message and an abort,
// which libFuzzer records with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::abort();
}

inline void expect(bool ok, const char* what) {
    if (!ok) fail(what);
}
