#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for SECONDS; prints executions and findings.
# usage: bench/fuzz.sh [SECONDS]   (default 30)
#   FUZZ_BUILD_DIR   build directory (default: build-fuzz in the repository); corpora, logs and
#                    crash inputs stay there
set -euo pipefail
seconds=${1:-30}
[[ "$seconds" =~ ^[0-9]+$ && "$seconds" -ge 1 ]] || { echo "usage: bench/fuzz.sh [SECONDS]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is not installed" >&2; exit 1; }

mkdir -p "$build"
if ! (cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DGLYPHRAIN_FUZZ=ON -DGLYPHRAIN_TESTS=OFF -DGLYPHRAIN_BENCH=OFF &&
        cd "$build/tests/fuzz" && make help >"$build/targets.txt") >"$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "fuzz.sh: configuring the fuzz build failed" >&2
    exit 1
fi
targets=$(sed -n 's/^\.\.\. \(fuzz_[a-z_]*\)$/\1/p' "$build/targets.txt")
[[ -n "$targets" ]] || { echo "fuzz.sh: no fuzz targets found" >&2; exit 1; }
# shellcheck disable=SC2086 # one word per target
if ! cmake --build "$build" -j "$(nproc)" --target $targets >>"$build/build.log" 2>&1; then
    tail -n 50 "$build/build.log" >&2
    echo "fuzz.sh: building the fuzz targets failed" >&2
    exit 1
fi

status=0
for target in $targets; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds="$root/tests/fuzz/seeds/$target"
    [[ -x "$seeds" ]] && "$seeds" "$corpus"
    log="$build/$target.log"
    # Crash inputs land in the build directory as crash-*, timeout-*, oom-* named after the target.
    if (cd "$build" && "./tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$target-" \
            "$corpus" </dev/null >"$log" 2>&1); then
        result="no findings"
    else
        result="FINDING (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    printf '%-22s %12s executions  %s\n' "$target" "${runs:-?}" "$result"
    if [[ $status -ne 0 ]]; then
        grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" >&2 || true
    fi
done
exit $status
