// The fuzz targets' one check: a broken invariant aborts, naming itself, so the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
