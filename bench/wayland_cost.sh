#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cost of the running program on a private headless sway (pixman renderer, started as an
# unprivileged user, as sway requires): per frame the client's and the compositor's CPU time
# (/proc/PID/schedstat over a span without tracing), the frames committed (one sendmsg each,
# counted by strace over a second span), the client's resident memory, and the wake-ups per
# second while another glyphRain covers the whole output on the overlay layer, so that sway sends
# no frame callbacks to what lies under it (sway's headless output cannot be switched off).
# usage: bench/wayland_cost.sh [GLYPHRAIN_BINARY]
#   CASES ("96:80:10 1024:10:10")  SIZE:INTERVAL_MS:SECONDS
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/glyphRain}
cases=${CASES:-96:80:10 1024:10:10}
[[ -x "$bin" ]] || { echo "wayland_cost: no binary at $bin" >&2; exit 1; }
command -v sway >/dev/null && command -v strace >/dev/null ||
    { echo "wayland_cost: needs sway and strace" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/glyphrain-wl-XXXXXX")
chmod 755 "$work"
run=$work/run
mkdir -m 700 "$run"
chown 65534:65534 "$run"
printf 'output HEADLESS-1 resolution 1024x1024\n' >"$work/sway.conf"
chmod 644 "$work/sway.conf"
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap stop_all EXIT

env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$run" WLR_BACKENDS=headless \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    setpriv --reuid=65534 --regid=65534 --clear-groups sway -c "$work/sway.conf" \
    >"$work/sway.log" 2>&1 &
sway_pid=$!
pids+=("$sway_pid")
for _ in $(seq 100); do [[ -S $run/wayland-1 ]] && break; sleep 0.05; done
[[ -S $run/wayland-1 ]] || { echo "wayland_cost: sway did not start" >&2; exit 1; }

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
switches() { awk '$1 == "voluntary_ctxt_switches:" {print $2}' "/proc/$1/status"; }
start_app() { # start_app ARGS...: the pid of a glyphRain on the private sway
    env -i PATH=/usr/bin:/bin HOME="$work" XDG_CONFIG_HOME="$work" XDG_RUNTIME_DIR="$run" \
        WAYLAND_DISPLAY=wayland-1 "$bin" --quiet "$@" >/dev/null 2>&1 &
    pids+=("$!")
    echo "$!"
}

printf '%-6s %-6s %10s %12s %12s %9s %14s\n' size ms frames/s client_us server_us rss_kib \
    covered_wake/s
for c in $cases; do
    IFS=: read -r size ms seconds <<<"$c"
    app=$(start_app --size "$size" --speed "$ms")
    sleep 2
    c0=$(cpu_ns "$app") s0=$(cpu_ns "$sway_pid")
    sleep "$seconds"
    c1=$(cpu_ns "$app") s1=$(cpu_ns "$sway_pid")
    frames=$({ timeout -s INT "$seconds" strace -c -e trace=sendmsg -p "$app" 2>&1 || true; } |
        awk '$NF == "sendmsg" {print $4}')
    rss=$(awk '$1 == "VmRSS:" {print $2}' "/proc/$app/status")
    cover=$(start_app --size 1024 --corner top-right --layer overlay --speed 1000)
    sleep 3
    w0=$(switches "$app")
    sleep "$seconds"
    w1=$(switches "$app")
    kill "$cover" "$app"
    awk -v f="${frames:-0}" -v s="$seconds" -v c=$((c1 - c0)) -v v=$((s1 - s0)) -v r="$rss" \
        -v w=$((w1 - w0)) -v size="$size" -v ms="$ms" 'BEGIN {
        n = f > 0 ? f : 1
        printf "%-6s %-6s %10.1f %12.1f %12.1f %9d %14.2f\n", size, ms, f / s, c / n / 1000,
            v / n / 1000, r, w / s }'
done
