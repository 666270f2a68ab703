#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the program under valgrind's memcheck on a private Xvfb through start-up, at least 200
# frames, a SIGHUP reload, a left click running its command, a middle-click reload and the close
# message; fails on any memcheck error, any definite leak or an unclean exit.
# usage: bench/valgrind.sh [GLYPHRAIN_BINARY]
#   SIZE           window size (default 96; from 128 up frames go through shared memory)
#   VALGRIND_LOG   file to keep valgrind's report in (default: printed on failure only)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/xvfb.sh"

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/glyphRain}
size=${SIZE:-96}
[[ -x "$bin" ]] || { echo "valgrind.sh: no binary at $bin (build first or pass its path)" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 1; }
# The click and close tool is built beside the program (target fake_input).
fake_input=$(dirname "$bin")/fake_input
[[ -x "$fake_input" ]] || { echo "valgrind.sh: no fake_input beside $bin (build its target)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/glyphrain-valgrind-XXXXXX")
log=${VALGRIND_LOG:-$work/valgrind.log}
clean_up_on_exit "$work"

fail() {
    echo "valgrind.sh: $*" >&2
    echo "--- program's standard error" >&2
    cat "$work/app.err" >&2 || true
    echo "--- valgrind" >&2
    cat "$log" >&2 || true
    exit 1
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s while the program runs.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for $what"
        sleep 0.1
    done
    fail "timed out waiting for $what"
}
said() { grep -qF "$1" "$work/app.err"; }
# Frames sent so far, from the bytes written: one request each, a 40-byte ShmPutImage when a
# shared segment is mapped, else a PutImage of 24 + 4 * size² bytes.
frames() {
    local request=$((24 + 4 * size * size))
    grep -qE 'memfd:glyphRain-frame|/SYSV' "/proc/$app_pid/maps" && request=40
    echo $(($(awk '/^wchar:/ {print $2}' "/proc/$app_pid/io") / request))
}
at_least() { (($(frames) >= $1)); }

mkdir -p "$work/config/glyphRain"
cat >"$work/config/glyphRain/config" <<EOF
theme = zenburn
left_click = touch '$work/clicked'
EOF

start_xvfb 700 799 valgrind.sh
HOME=$work XDG_CONFIG_HOME=$work/config DISPLAY=$display \
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,possible \
    --errors-for-leak-kinds=definite --error-exitcode=99 --child-silent-after-fork=yes \
    --log-file="$log" "$bin" --size "$size" --speed 20 2>"$work/app.err" &
app_pid=$!

wait_for 120 "start-up" said "glyphRain: running"
wait_for 120 "the first 50 frames" at_least 50
kill -HUP "$app_pid"
wait_for 60 "the SIGHUP reload" said "glyphRain: config reloaded (SIGHUP)"
DISPLAY=$display "$fake_input" click 1 || fail "the left click could not be sent"
wait_for 60 "the left-click command" test -e "$work/clicked"
DISPLAY=$display "$fake_input" click 2 || fail "the middle click could not be sent"
wait_for 60 "the middle-click reload" grep -qx "glyphRain: config reloaded" "$work/app.err"
# Ten frames to spare for the bytes valgrind itself wrote.
wait_for 300 "200 frames" at_least 210
shown=$(frames)
DISPLAY=$display "$fake_input" close || fail "the close message could not be sent"
wait_for 120 "the exit message" said "glyphRain: exiting"

status=0
for _ in $(seq 600); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
wait "$app_pid" || status=$?
app_pid=""

errors=$(sed -n 's/^==[0-9]*== ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
definite=$(sed -n 's/^==[0-9]*==    definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1)
echo "valgrind.sh: $shown frames, SIGHUP reload, left click, middle-click reload, close"
grep -E '== (ERROR SUMMARY|   (definitely|indirectly|possibly) lost|   still reachable|All heap blocks)' \
    "$log" | sed 's/^==[0-9]*== */    /'
[[ "$status" -eq 0 ]] || fail "exit status $status (99: memcheck found errors)"
[[ "${errors:-x}" == 0 ]] || fail "memcheck reported ${errors:-no} errors"
[[ -z "$definite" || "$definite" == 0 ]] || fail "definitely lost: $definite bytes"
echo "valgrind.sh: ok, no memcheck error and no definite leak"
