#!/usr/bin/env bash
# Builds every build from scratch if needed and runs every test: the native unit tests, then the
# Windows build's unit and end-to-end tests under Wine (compiled by GCC, then by clang).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

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

