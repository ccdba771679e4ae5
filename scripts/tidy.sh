#!/usr/bin/env bash
# clang-tidy 16 (checks in .clang-tidy, every finding an error) on the portable core: the sources
# under src/ that the host-clang build compiles, with that build's compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset host-clang >/dev/null
database=build/host-clang/compile_commands.json
mapfile -t sources < <(sed -n 's|.*"file": "\([^"]*/src/[^"]*\.cpp\)".*|\1|p' "$database" | sort -u)
((${#sources[@]})) || { echo "tidy: no sources found in $database"; exit 1; }
echo "tidy: ${#sources[@]} sources"
printf '%s\0' "${sources[@]}" |
    xargs -0 -n 1 -P "$(nproc)" clang-tidy-16 -p build/host-clang --quiet 2> >(grep -v ' warnings generated\.$' >&2)
echo "tidy: clean"
