#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of a rule; a broken one is a finding.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

inline bool printable(char c) { return c >= 0x20 && c <= 0x7e; }
