// A property check inside a fuzz target: a failed one ends the run the way a crash does, so that
// libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void FuzzFailed(const char* condition,
                                    const char* file,
                                    int line,
                                    const std::string& detail) {
    std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n  %s\n", file, line, condition, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                             \
    do {                                                          \
        if (!(condition)) {                                       \
            FuzzFailed(#condition, __FILE__, __LINE__, (detail)); \
        }                                                         \
    } while (false)
