#!/usr/bin/env bash
# Builds every build from scratch if needed and runs every test: the native unit tests, then the
# Windows build's unit and end-to-end tests under Wine (compiled by GCC, then by clang).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

# Hardening of the portable core: the unit tests under the address and undefined-behaviour
# sanitizers, under clang with libc++ (warnings as errors), clang-tidy, and each fuzz target for
# about a minute (TEVRA_FUZZ_SECONDS).
cmake --preset host-asan
cmake --build --preset host-asan
ctest --preset host-asan
cmake --preset host-clang
cmake --build --preset host-clang
ctest --preset host-clang
bash scripts/tidy.sh
bash scripts/tidy.sh windows
bash scripts/fuzz.sh "${TEVRA_FUZZ_SECONDS:-60}"

cmake --preset mingw
cmake --build --preset mingw
source scripts/wine-env.sh
trap wine_stop EXIT
wine_prepare
ctest --preset mingw

# The same program compiled by a second compiler, warnings as errors, tested the same way.
cmake --preset mingw-clang
cmake --build --preset mingw-clang
WINEPREFIX=$PWD/build/mingw-clang/wineprefix wine_prepare
ctest --preset mingw-clang

