#!/usr/bin/env bash
# The test command: builds what is missing and runs every test of the two builds: the native unit
# tests (with the fuzz targets' seeds replayed), then the Windows program's unit and end-to-end tests
# under Wine. A few minutes on two cores; scripts/hardening.sh runs the wider matrix.
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
