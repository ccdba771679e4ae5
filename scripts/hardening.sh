#!/usr/bin/env bash
# The wider matrix, after scripts/test.sh: the native unit tests under the address and
# undefined-behaviour sanitizers and under clang with libc++ (warnings as errors), clang-tidy on the
# portable core and on the Win32 sources, each fuzz target for a while (TEVRA_FUZZ_SECONDS, default
# 60), and the Windows program compiled by clang, tested under Wine like the GCC build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in host-asan host-clang; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
bash scripts/tidy.sh
bash scripts/tidy.sh windows
bash scripts/fuzz.sh "${TEVRA_FUZZ_SECONDS:-60}"

cmake --preset mingw-clang
cmake --build --preset mingw-clang
source scripts/wine-env.sh
trap wine_stop EXIT
WINEPREFIX=$PWD/build/mingw-clang/wineprefix wine_prepare
ctest --preset mingw-clang
