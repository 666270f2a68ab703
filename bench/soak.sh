#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the real program on a private Xvfb at --speed 10 for MINUTES, samples its resident memory
# and CPU use every second, and prints the first and last minute's averages. Fails when resident
# memory grew by 64 KiB or more, or when the program stopped.
# usage: bench/soak.sh MINUTES [GLYPHRAIN_BINARY]
#   SOAK_SIZE (96)     window size passed with --size
#   SOAK_SAMPLES       file to keep the per-second samples in (seconds, rss_kib, cpu_percent)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/xvfb.sh"

minutes=${1:?usage: bench/soak.sh MINUTES [GLYPHRAIN_BINARY]}
repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${2:-$repo/build/glyphRain}
size=${SOAK_SIZE:-96}
[[ "$minutes" =~ ^[0-9]+$ && "$minutes" -ge 1 ]] || { echo "soak: MINUTES must be a whole number >= 1" >&2; exit 2; }
[[ -x "$bin" ]] || { echo "soak: no binary at $bin (build first or pass its path)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/glyphrain-soak-XXXXXX")
samples=${SOAK_SAMPLES:-$work/samples}
clean_up_on_exit "$work"

rss_kib() { awk '$1 == "VmRSS:" {print $2}' "/proc/$1/status" 2>/dev/null; }
# User plus system time in clock ticks; the fields after the command name, which ends in ") ".
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $12 + $13}'; }

start_xvfb 600 699 soak
mkdir -p "$work/config"
HOME=$work XDG_CONFIG_HOME=$work/config DISPLAY=$display \
    "$bin" --size "$size" --speed 10 2>"$work/app.err" &
app_pid=$!
for _ in $(seq 300); do
    grep -q 'glyphRain: running' "$work/app.err" && break
    kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.err" >&2; exit 1; }
    sleep 0.1
done
grep -q 'glyphRain: running' "$work/app.err" || { echo "soak: the program did not start" >&2; exit 1; }

hz=$(getconf CLK_TCK)
total=$((minutes * 60))
: >"$samples"
last_ticks=$(cpu_ticks "$app_pid")
last_ns=$(date +%s%N)
start_ns=$last_ns
for ((s = 1; s <= total; s++)); do
    # Sleep to the next whole second from the start, so the sampling itself causes no drift.
    sleep "$(awk -v due="$((start_ns + s * 1000000000))" -v now="$(date +%s%N)" \
        'BEGIN { d = (due - now) / 1e9; printf "%.3f", (d > 0 ? d : 0) }')"
    kill -0 "$app_pid" 2>/dev/null || { echo "soak: the program stopped after ${s}s" >&2; cat "$work/app.err" >&2; exit 1; }
    ticks=$(cpu_ticks "$app_pid")
    now_ns=$(date +%s%N)
    cpu=$(awk -v t="$((ticks - last_ticks))" -v hz="$hz" -v ns="$((now_ns - last_ns))" \
        'BEGIN { printf "%.2f", 100 * t / hz / (ns / 1e9) }')
    echo "$s $(rss_kib "$app_pid") $cpu" >>"$samples"
    last_ticks=$ticks
    last_ns=$now_ns
done

# A minute is at most half the run, so the first and last windows never overlap.
awk -v total="$total" -v size="$size" '
    { rss[NR] = $2; cpu[NR] = $3 }
    END {
        window = total >= 120 ? 60 : int(total / 2)
        for (i = 1; i <= window; i++) { fr += rss[i]; fc += cpu[i] }
        for (i = NR - window + 1; i <= NR; i++) { lr += rss[i]; lc += cpu[i] }
        for (i = 1; i <= NR; i++) if (rss[i] > peak) peak = rss[i]
        fr /= window; fc /= window; lr /= window; lc /= window
        printf "soak: %d s at --size %d --speed 10, %d samples\n", total, size, NR
        printf "%-13s %12s %8s\n", "", "rss_kib", "cpu_%"
        printf "%-13s %12.1f %8.2f\n", "first " window " s", fr, fc
        printf "%-13s %12.1f %8.2f\n", "last " window " s", lr, lc
        printf "%-13s %12.1f\n", "growth", lr - fr
        printf "%-13s %12d\n", "peak", peak
        if (lr - fr >= 64) { print "soak: FAIL: resident memory grew by 64 KiB or more"; exit 1 }
        print "soak: ok, resident memory flat"
    }' "$samples"
