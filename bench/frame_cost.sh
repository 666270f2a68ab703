#!/usr/bin/env bash
# Cost of one frame of the running program against the floor program (compose + one PutImage),
# both on a fresh private Xvfb, at the same size and interval, in one run of this script.
# Reports per frame the client's and the X server's CPU time (/proc/PID/schedstat), the frame
# rate, and the client's resident memory.
# usage: bench/frame_cost.sh [GLYPHRAIN_BINARY]
#   DEFAULT_SECONDS (30)  length of the 96 px / 80 ms measurement
#   LARGE_SECONDS (15)    length of the 1024 px / 10 ms measurement
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/xvfb.sh"

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/glyphRain}
default_s=${DEFAULT_SECONDS:-30}
large_s=${LARGE_SECONDS:-15}
[[ -x "$bin" ]] || { echo "frame_cost: no binary at $bin (build first or pass its path)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/glyphrain-bench-XXXXXX")
floor_bin=$work/floor
g++ -std=c++20 -O2 -Wall -Wextra -o "$floor_bin" "$repo/bench/floor.cpp" -lxcb

xvfb_pid=""
app_pid=""
cleanup() {
    stop_pid "$app_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM


cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
written() { awk '/^wchar:/ {print $2}' "/proc/$1/io"; }
status_kb() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }

printf '%-5s %-6s %-10s %7s %7s %12s %12s %9s %9s\n' size ms program frames fps \
    client_us/f server_us/f rss_kib peak_kib

# measure SIZE INTERVAL_MS SECONDS: one floor row and one glyphRain row, each on a fresh server.
measure() {
    local size=$1 ms=$2 secs=$3
    start_xvfb 500 599 frame_cost
    local line
    line=$(DISPLAY=$display XVFB_PID=$xvfb_pid "$floor_bin" "paced$ms" "$size" "$secs")
    stop_pid "$xvfb_pid"
    xvfb_pid=""
    local f_frames f_fps f_client f_server f_hwm
    f_frames=$(sed -n 's/.* frames=\([0-9]*\).*/\1/p' <<<"$line")
    f_fps=$(sed -n 's/.* fps=\([0-9.]*\).*/\1/p' <<<"$line")
    f_client=$(sed -n 's/.* client_us=\([0-9.]*\).*/\1/p' <<<"$line")
    f_server=$(sed -n 's/.* server_us=\([0-9.-]*\).*/\1/p' <<<"$line")
    f_hwm=$(sed -n 's/.* hwm_kb=\([0-9]*\).*/\1/p' <<<"$line")
    printf '%-5s %-6s %-10s %7s %7s %12s %12s %9s %9s\n' "$size" "$ms" floor "$f_frames" "$f_fps" \
        "$f_client" "$f_server" - "$f_hwm"

    start_xvfb 500 599 frame_cost
    HOME=$work XDG_CONFIG_HOME=$work/config DISPLAY=$display \
        "$bin" --size "$size" --speed "$ms" 2>"$work/app.err" &
    app_pid=$!
    for _ in $(seq 300); do
        grep -q 'glyphRain: running' "$work/app.err" && break
        kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.err" >&2; exit 1; }
        sleep 0.1
    done
    sleep 1 # past start-up and the first frames
    # Frames are counted from the bytes the client wrote: one PutImage request per frame.
    local request=$((24 + 4 * size * size))
    ((size >= 256)) && request=$((request + 4))
    local c0 x0 w0 t0 c1 x1 w1 t1
    c0=$(cpu_ns "$app_pid"); x0=$(cpu_ns "$xvfb_pid"); w0=$(written "$app_pid"); t0=$(date +%s.%N)
    sleep "$secs"
    c1=$(cpu_ns "$app_pid"); x1=$(cpu_ns "$xvfb_pid"); w1=$(written "$app_pid"); t1=$(date +%s.%N)
    local rss hwm
    rss=$(status_kb "$app_pid" VmRSS)
    hwm=$(status_kb "$app_pid" VmHWM)
    stop_pid "$app_pid"
    app_pid=""
    stop_pid "$xvfb_pid"
    xvfb_pid=""
    awk -v size="$size" -v ms="$ms" -v c="$((c1 - c0))" -v x="$((x1 - x0))" -v w="$((w1 - w0))" \
        -v req="$request" -v t0="$t0" -v t1="$t1" -v rss="$rss" -v hwm="$hwm" \
        -v fc="$f_client" -v fs="$f_server" 'BEGIN {
        frames = int(w / req + 0.5)
        if (frames < 1) frames = 1
        cu = c / frames / 1000; su = x / frames / 1000
        printf "%-5s %-6s %-10s %7d %7.1f %12.2f %12.2f %9d %9d\n", size, ms, "glyphRain", frames,
               frames / (t1 - t0), cu, su, rss, hwm
        rc = (fc > 0) ? cu / fc : 0
        rs = (fs > 0) ? su / fs : 0
        printf "%-5s %-6s %-10s %7s %7s %11.2fx %11.2fx\n", size, ms, "ratio", "", "", rc, rs
    }'
}

measure 96 80 "$default_s"
measure 1024 10 "$large_s"
