#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cost of one frame of the running program against the floor program (compose + one PutImage),
# with frames sent by PutImage (GLYPHRAIN_NO_SHM=1) and by shared memory, all three alternated in
# rounds on one private Xvfb per size, so that drift on a shared machine hits each of them alike.
# Reports per frame the client's and the X server's CPU time (/proc/PID/schedstat), the frame
# rate, the client's resident memory, and the ratios of the totals.
# usage: bench/frame_cost.sh [GLYPHRAIN_BINARY]
#   CASES ("96:80:30 1024:10:15")  SIZE:INTERVAL_MS:SECONDS per program, split over the rounds
#   ROUNDS (3)                     how often the three programs take turns
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/xvfb.sh"

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/glyphRain}
cases=${CASES:-96:80:30 1024:10:15}
rounds=${ROUNDS:-3}
[[ -x "$bin" ]] || { echo "frame_cost: no binary at $bin (build first or pass its path)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/glyphrain-bench-XXXXXX")
floor_bin=$work/floor
g++ -std=c++20 -O2 -Wall -Wextra -o "$floor_bin" "$repo/bench/floor.cpp" -lxcb
counter_lib=$work/flush_counter.so
g++ -std=c++20 -O2 -Wall -Wextra -shared -fPIC -o "$counter_lib" "$repo/bench/flush_counter.cpp" -ldl

clean_up_on_exit "$work"

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
flushes() { od -An -t u8 -N 8 "$1" | tr -d ' '; }
status_kb() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }
field() { sed -n "s/.* $1=\\([0-9.-]*\\).*/\\1/p" <<<"$2"; }

# Every row: size ms program frames seconds client_ns server_ns rss_kib peak_kib
rows=$work/rows

# floor_row SIZE MS SECONDS
floor_row() {
    local line frames
    line=$(DISPLAY=$display XVFB_PID=$xvfb_pid "$floor_bin" "paced$2" "$1" "$3")
    frames=$(field frames "$line")
    awk -v s="$1" -v ms="$2" -v f="$frames" -v w="$(field wall_s "$line")" \
        -v c="$(field client_us "$line")" -v x="$(field server_us "$line")" \
        -v h="$(field hwm_kb "$line")" \
        'BEGIN { printf "%s %s floor %d %.3f %.0f %.0f 0 %d\n", s, ms, f, w, c*f*1000, x*f*1000, h }'
}

# app_row SIZE MS SECONDS PROGRAM: glyphRain, by PutImage or by shared memory (where it pays).
app_row() {
    local size=$1 ms=$2 secs=$3 program=$4
    local no_shm=()
    [[ $program == putimage ]] && no_shm=(GLYPHRAIN_NO_SHM=1)
    : >"$work/app.err"
    local count=$work/flushes
    rm -f "$count"
    env "${no_shm[@]}" HOME="$work" XDG_CONFIG_HOME="$work/config" DISPLAY="$display" \
        LD_PRELOAD="$counter_lib" GLYPHRAIN_FLUSH_COUNT="$count" \
        "$bin" --size "$size" --speed "$ms" 2>"$work/app.err" &
    app_pid=$!
    for _ in $(seq 300); do
        grep -q 'glyphRain: running' "$work/app.err" && break
        kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.err" >&2; exit 1; }
        sleep 0.1
    done
    sleep 1 # past start-up and the first frames
    # Frames are counted by the preloaded counter: the program flushes once per frame it sends,
    # whatever the frame's requests add up to.
    if grep -qE 'memfd:glyphRain-frame|/SYSV' "/proc/$app_pid/maps"; then
        program=shm
    elif [[ $program == shm ]]; then
        program=shm-off # below the size where shared memory pays: PutImage all the same
    fi
    local c0 x0 w0 t0 c1 x1 w1 t1
    c0=$(cpu_ns "$app_pid"); x0=$(cpu_ns "$xvfb_pid"); w0=$(flushes "$count"); t0=$(date +%s.%N)
    sleep "$secs"
    t1=$(date +%s.%N); w1=$(flushes "$count"); c1=$(cpu_ns "$app_pid"); x1=$(cpu_ns "$xvfb_pid")
    local rss hwm
    rss=$(status_kb "$app_pid" VmRSS)
    hwm=$(status_kb "$app_pid" VmHWM)
    stop_pid "$app_pid"
    app_pid=""
    awk -v s="$size" -v ms="$ms" -v p="$program" -v c="$((c1 - c0))" -v x="$((x1 - x0))" \
        -v w="$((w1 - w0))" -v t0="$t0" -v t1="$t1" -v rss="$rss" -v hwm="$hwm" \
        'BEGIN { f = w; if (f < 1) f = 1
                 printf "%s %s %s %d %.3f %d %d %d %d\n", s, ms, p, f, t1 - t0, c, x, rss, hwm }'
}

printf '%-5s %-4s %-9s %7s %7s %12s %12s %9s %9s\n' size ms program frames fps \
    client_us/f server_us/f rss_kib peak_kib
for case in $cases; do
    IFS=: read -r size ms secs <<<"$case"
    per_round=$(awk -v s="$secs" -v r="$rounds" 'BEGIN { printf "%.1f", s / r }')
    start_xvfb 500 599 frame_cost
    for _ in $(seq "$rounds"); do
        floor_row "$size" "$ms" "$per_round" >>"$rows"
        app_row "$size" "$ms" "$per_round" putimage >>"$rows"
        app_row "$size" "$ms" "$per_round" shm >>"$rows"
    done
    stop_pid "$xvfb_pid"
    xvfb_pid=""
    # Totals over the rounds, then each program against the PutImage path and the floor.
    awk -v s="$size" -v ms="$ms" '$1 == s && $2 == ms {
            f[$3] += $4; t[$3] += $5; c[$3] += $6; x[$3] += $7
            if ($8 > rss[$3]) rss[$3] = $8
            if ($9 > hwm[$3]) hwm[$3] = $9
        }
        END {
            n = split("floor putimage shm shm-off", order, " ")
            for (i = 1; i <= n; ++i) {
                p = order[i]
                if (!(p in f)) continue
                cu[p] = c[p] / f[p] / 1000; su[p] = x[p] / f[p] / 1000
                printf "%-5s %-4s %-9s %7d %7.1f %12.2f %12.2f %9d %9d\n", s, ms, p, f[p],
                       f[p] / t[p], cu[p], su[p], rss[p], hwm[p]
            }
            for (i = 2; i <= n; ++i) {
                p = order[i]
                if (!(p in f)) continue
                printf "%-5s %-4s %-9s client+server per frame: %.2fx the floor", s, ms, p,
                       (cu[p] + su[p]) / (cu["floor"] + su["floor"])
                if (p != "putimage")
                    printf ", %.2fx the PutImage path", (cu[p] + su[p]) / (cu["putimage"] + su["putimage"])
                printf "\n"
            }
        }' "$rows"
done
