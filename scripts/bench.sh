#!/usr/bin/env bash
# Measures the updater against its performance budgets and prints the figures:
#
#   bash scripts/bench.sh [ROUNDS]        (ROUNDS of the whole-process benchmark, default 41, at least 30)
#
# 1. installs what is missing (scripts/setup.sh, and Google Benchmark: libbenchmark-dev);
# 2. builds bench/ natively in Release (build/bench) and with mingw-w64 exactly like the product
#    (MinSizeRel, static, stripped; build/bench-mingw): the updater, the stand-in installer, the
#    do-nothing floor program, the trust probe and the whole-process harness;
# 3. size and imports of the stripped TevraRemoteUpdater.exe;
# 4. the native microbenchmarks (reader, writer, command-line splitter; bytes per CPU second);
# 5. the whole-process benchmark under Wine, in its own prefix build/bench-mingw/wineprefix.
#
# It measures speed and asserts nothing: the figures go to the terminal and to
# build/bench/latest.txt. It is no test, and neither ctest nor scripts/test.sh runs it. On a busy
# machine the whole-process figures are noisy; run it again when the machine is quieter.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-41}
if ! [[ $rounds =~ ^[0-9]+$ ]] || ((rounds < 30)); then
    echo "usage: $0 [ROUNDS]   (ROUNDS >= 30)" >&2
    exit 2
fi

bash scripts/setup.sh
if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed"; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends libbenchmark-dev
fi

native=build/bench
windows=build/bench-mingw
echo "== Building (native Release in $native, mingw-w64 MinSizeRel in $windows)"
cmake -S bench -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build "$native"
cmake -S bench -B "$windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$windows"
[ -f "$windows/packages/demo.msi" ] || bash tests/fixtures/make_packages.sh "$windows/packages" >/dev/null

results=$native/latest.txt
: >"$results"
report() { tee -a "$results"; }

{
    echo
    echo "== Size and imports of the stripped TevraRemoteUpdater.exe"
    exe=$windows/TevraRemoteUpdater.exe
    size=$(stat -c %s "$exe")
    budget=$((256 * 1024))
    verdict=PASS
    ((size <= budget)) || verdict=MISS
    printf '  size %d bytes (%.1f KiB), budget <= 256 KiB: %s\n' "$size" "$(awk -v s="$size" 'BEGIN { print s / 1024 }')" "$verdict"
    headers=$(x86_64-w64-mingw32-objdump -p "$exe")
    imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort -f | tr '\n' ' ')
    verdict=PASS
    [ "$(tr '[:upper:]' '[:lower:]' <<<"$imports")" = "kernel32.dll msvcrt.dll " ] || verdict=MISS
    echo "  imports: $imports(only KERNEL32 and msvcrt): $verdict"
    verdict=PASS
    grep -q 'symbols stripped' <<<"$headers" || verdict=MISS
    echo "  symbols stripped: $verdict"
} | report

{
    echo
    echo "== Native microbenchmarks (Google Benchmark, Release; rates per CPU second)"
} | report
json=$native/state_bench.json
"$native/state_bench" --benchmark_color=false --benchmark_out="$json" --benchmark_out_format=json 2>&1 | report
# The budget: >= 500 MB/s (10^6 bytes, per CPU second) on the 100 MiB skipped members, median of the repetitions.
reader_budget() {
    awk -v want="$1" -v what="$2" '
        /"name":/ { name = $0; sub(/^[^:]*: "/, "", name); sub(/".*/, "", name) }
        /"bytes_per_second":/ && name == want {
            rate = $0; sub(/^[^:]*: /, "", rate); sub(/,.*/, "", rate); mb = rate / 1e6; found = 1
            printf "  reader on a 100 MiB skipped %s: %.0f MB/s, budget >= 500 MB/s: %s\n", what, mb, (mb >= 500 ? "PASS" : "MISS")
        }
        END { if (!found) printf "  reader on a 100 MiB skipped %s: no figure\n", what }' "$json"
}
{
    echo
    reader_budget "BM_ReadSkippedString/$((100 << 20))/repeats:9_median" string
    reader_budget "BM_ReadSkippedArray/$((100 << 20))/repeats:5_median" array
} | report

{
    echo
    echo "== Whole-process benchmark under Wine (prefix $windows/wineprefix)"
} | report
prefix=$PWD/$windows/wineprefix
# Makes the prefix on first use and keeps its server up while the harness runs.
cmake/wine-run.sh "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
cmake/wine-run.sh "$prefix" "$windows/process_bench.exe" --rounds "$rounds" 2>&1 | tr -d '\r' | report
echo
echo "Figures saved in $results"
