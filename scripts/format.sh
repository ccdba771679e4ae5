#!/usr/bin/env bash
# Formats the project's C++ sources with clang-format 16 and .clang-format.
#   scripts/format.sh          rewrites the files
#   scripts/format.sh --check  changes nothing; fails when a file is not formatted
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mapfile -t files < <(git ls-files 'scripts/*.cpp' 'src/*.c' 'src/*.cpp' 'src/*.hpp' 'tests/*.c' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 'bench/*.cpp')
if [ "${1:-}" = --check ]; then
    clang-format-16 --dry-run --Werror "${files[@]}"
else
    clang-format-16 -i "${files[@]}"
fi
