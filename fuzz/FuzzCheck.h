#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property ends the run with a message; libFuzzer then keeps the
// input that broke it as a crash artifact.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)
