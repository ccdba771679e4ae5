#!/usr/bin/env bash
# Builds the fuzz targets (the `fuzz` preset: clang 16, libc++, libFuzzer with the address and
# undefined-behaviour sanitizers) and runs each one for the given number of seconds (default 60),
# as many at once as there are cores. Each starts from a copy of its seeds in fuzz/corpus/<target>,
# kept and grown in build/fuzz/corpus/<target>, with the tokens of fuzz/<target>.dict for its
# mutations; the repository's seeds are never written to.
# Fails when any target finds a crash, a leak, a hang or a broken invariant; what it found is left
# in build/fuzz/artifacts/, to be replayed with `build/fuzz/<target> <file>`.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
mkdir -p "$out/artifacts" "$out/logs"
declare -A max_len=([state_reader_fuzz]=4096 [command_line_fuzz]=1024 [containment_fuzz]=512)
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run() {
    local target=$1 corpus=$out/corpus/$1
    mkdir -p "$corpus"
    cp -r "fuzz/corpus/${target%_fuzz}/." "$corpus/"
    "$out/$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" \
        -dict="fuzz/${target%_fuzz}.dict" "$corpus" >"$out/logs/$target.log" 2>&1
}

declare -A pids
running=0
for target in "${!max_len[@]}"; do
    if ((running >= $(nproc))); then
        wait -n || true
        running=$((running - 1))
    fi
    run "$target" &
    pids[$target]=$!
    running=$((running + 1))
done

failed=0
for target in "${!pids[@]}"; do
    if wait "${pids[$target]}"; then
        stats=$(grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$out/logs/$target.log" | tr '\n' ' ')
        cov=$(grep -oE 'cov: [0-9]+' "$out/logs/$target.log" | tail -1)
        echo "fuzz: $target passed ${seconds}s: $cov $stats"
    else
        failed=1
        echo "fuzz: $target FAILED; the end of $out/logs/$target.log:"
        tail -n 60 "$out/logs/$target.log"
        ls "$out/artifacts/$target-"* 2>/dev/null || true
    fi
done
exit $failed
