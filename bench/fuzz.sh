#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS; prints executions and findings.
# usage: bench/fuzz.sh [SECONDS]   (default 30)
set -euo pipefail
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is not installed" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGLYPHRAIN_FUZZ=ON -DGLYPHRAIN_TESTS=OFF -DGLYPHRAIN_BENCH=OFF >/dev/null
targets=$(cd "$build/tests/fuzz" && make help | sed -n 's/^\.\.\. \(fuzz_[a-z_]*\)$/\1/p')
cmake --build "$build" -j "$(nproc)" --target $targets >/dev/null

status=0
for target in $targets; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds="$root/tests/fuzz/seeds/$target"
    [[ -x "$seeds" ]] && "$seeds" "$corpus"
    log="$build/$target.log"
    if (cd "$build" && "./tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 "$corpus" >"$log" 2>&1); then
        result="no findings"
    else
        result="FINDING (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    printf '%-22s %12s executions  %s\n' "$target" "${runs:-?}" "$result"
done
exit $status
