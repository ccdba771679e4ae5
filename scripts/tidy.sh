#!/usr/bin/env bash
# clang-tidy 16 (checks in .clang-tidy, every finding an error).
#   scripts/tidy.sh          the portable core: the sources under src/ that the host-clang build
#                            compiles, with that build's compile_commands.json
#   scripts/tidy.sh windows  the Win32 sources, compiled for x86_64-w64-mingw32 by clang against the
#                            mingw-w64 headers (configured in build/tidy-windows, nothing is built)
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-core}
bash scripts/setup.sh

sources_in() { sed -n 's|.*"file": "\([^"]*/src/[^"]*\.cpp\)".*|\1|p' "$1/compile_commands.json" | sort -u; }

cmake --preset host-clang >/dev/null
case $what in
core)
    build=build/host-clang
    mapfile -t sources < <(sources_in "$build")
    ;;
windows)
    build=build/tidy-windows
    cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64-clang.cmake -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=OFF >/dev/null
    mapfile -t sources < <(comm -23 <(sources_in "$build") <(sources_in build/host-clang))
    ;;
*)
    echo "usage: $0 [core|windows]" >&2
    exit 2
    ;;
esac
((${#sources[@]})) || { echo "tidy: no sources found in $build/compile_commands.json"; exit 1; }
echo "tidy ($what): ${#sources[@]} sources"
printf '%s\0' "${sources[@]}" |
    xargs -0 -n 1 -P "$(nproc)" clang-tidy-16 -p "$build" --quiet 2> >(grep -v ' warnings generated\.$' >&2)
echo "tidy ($what): clean"
