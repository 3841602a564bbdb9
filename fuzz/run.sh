#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, libFuzzer) into build-fuzz/ and runs each from its committed seed
# corpus, then prints executions, speed and time per target.
#
#   fuzz/run.sh [target...]      every target when none is named
#   FUZZ_RUNS=N                  executions per target (default 1000000)
#   FUZZ_SECONDS=S               or a time limit per target instead
#
# New coverage goes to build-fuzz/work/<target>/ (kept between runs, never
# committed). An input that fails is saved under build-fuzz/artifacts/<target>/;
# once fixed, it belongs in fuzz/regressions/<target>/, which ctest replays.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD:-build-fuzz}
PYTHON=${PYTHON:-python3}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(png_decode pair thumbnail webp_lossless)

werror=OFF  # on in CI (CI set in the environment): a compiler warning fails the build
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_WERROR="$werror" -DQUORVANE_FUZZ=ON -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build "$BUILD" --target "${targets[@]/#/fuzz_}"

if [ -n "${FUZZ_SECONDS:-}" ]; then limit=(-max_total_time="$FUZZ_SECONDS"); else limit=(-runs="${FUZZ_RUNS:-1000000}"); fi
failed=0
for target in "${targets[@]}"; do
    work="$BUILD/work/$target"
    artifacts="$BUILD/artifacts/$target"
    log="$BUILD/logs/$target.log"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    seeds=(fuzz/corpus/"$target" fuzz/regressions/"$target")
    [ "$target" = png_decode ] && seeds+=(tests/data/png)
    start=$(date +%s)
    status=0
    nice -n 19 "$BUILD/fuzz/fuzz_$target" "${limit[@]}" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
    seconds=$(( $(date +%s) - start ))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
    coverage=$(grep -o "cov: [0-9]*" "$log" | tail -1 || true)
    if [ "$status" -eq 0 ]; then
        echo "fuzz $target: ${executions:-?} executions in ${seconds} s (${per_second:-?}/s), ${coverage:-cov: ?} edges, peak RSS ${peak:-?} MB, no finding"
    else
        failed=1
        echo "fuzz $target: FAILED after ${seconds} s; see $log and $artifacts/"
        grep -E 'ERROR|broken promise|SUMMARY' "$log" | head -5 || true
    fi
done
exit "$failed"
