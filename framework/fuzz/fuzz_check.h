// A broken property stops the run with the condition's text, so that the
// fuzzer keeps the input as a reproducer.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                              \
    do {                                                                                              \
        if (!(cond)) {                                                                                \
            std::fprintf(stderr, "fuzz property broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                             \
        }                                                                                             \
    } while (0)
