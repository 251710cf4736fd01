#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build on a copy of its seed corpus
# (fuzz/corpus/<name>/), so that the committed corpus never grows.
#   scripts/fuzz.sh BUILD_DIR
# FUZZ_SECONDS (default 60) bounds each target's run; FUZZ_RUNS, when set,
# runs that many inputs instead. Exits non-zero on any finding; the inputs
# that broke a target are kept in BUILD_DIR/fuzz-findings/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
runs=${FUZZ_RUNS:-}
list="$build/fuzz/fuzzers.txt"
[ -f "$list" ] || { echo "No fuzz targets in $build (configure with -DTARVIL_FUZZ=ON)." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=()
summary=()
while read -r name exe; do
    [ -n "$name" ] || continue
    corpus="$work/$name"
    mkdir -p "$corpus"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -R "fuzz/corpus/$name/." "$corpus/"
    fi
    findings="$build/fuzz-findings/$name"
    mkdir -p "$findings"
    args=(-print_final_stats=1 -timeout=10 -rss_limit_mb=2048 "-artifact_prefix=$findings/")
    if [ -n "$runs" ]; then
        args+=("-runs=$runs")
    else
        args+=("-max_total_time=$seconds")
    fi
    if [ -f "fuzz/$name.dict" ]; then
        args+=("-dict=fuzz/$name.dict")
    fi
    echo "== $name"
    log="$work/$name.log"
    status=0
    ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
        "$exe" "${args[@]}" "$corpus" >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    if [ -z "$execs" ]; then
        execs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
    fi
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        failed+=("$name")
        summary+=("$(printf '%-12s %12s executions  FINDING (exit %d, inputs in %s)' "$name" "${execs:-?}" "$status" "$findings")")
    else
        summary+=("$(printf '%-12s %12s executions  ok' "$name" "${execs:-?}")")
    fi
done <"$list"

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "Findings in: ${failed[*]}" >&2
    exit 1
fi
