#pragma once
#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run loudly, so the fuzzer keeps the input.
inline void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
