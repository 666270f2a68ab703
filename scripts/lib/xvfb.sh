# SPDX-License-Identifier: MIT
# Shared by the scripts that run glyphRain on a private Xvfb: start one on a free display and
# stop processes by pid. Source it; it defines stop_pid, clean_up_on_exit and start_xvfb.

# stop_pid PID: TERM, up to five seconds of grace, then KILL; reaps it when it is our child.
stop_pid() {
    local pid=$1
    [[ -n "$pid" ]] || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# clean_up_on_exit WORK: when the script ends, however it ends, stops the processes named by
# app_pid and xvfb_pid (both start empty) and removes the directory WORK.
clean_up_on_exit() {
    clean_up_dir=$1
    xvfb_pid=""
    app_pid=""
    trap 'stop_pid "$app_pid"; stop_pid "$xvfb_pid"; rm -rf "$clean_up_dir"' EXIT
    trap 'exit 130' INT TERM
}

# start_xvfb FIRST LAST NAME: starts Xvfb on the first free display number in FIRST..LAST and sets
# display and xvfb_pid. A display counts as ours only when its lock file names our server, since
# another run may pick the same number at the same moment. Exits with NAME's message on failure.
start_xvfb() {
    local first=$1 last=$2 name=$3 n
    display=""
    for n in $(seq "$first" "$last"); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -nolisten tcp -noreset -screen 0 1280x1024x24 >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if [[ -S /tmp/.X11-unix/X$n && "$(tr -d ' ' </tmp/.X$n-lock 2>/dev/null)" == "$xvfb_pid" ]]; then
                display=":$n"
                sleep 0.2
                return 0
            fi
            sleep 0.05
        done
        stop_pid "$xvfb_pid"
        xvfb_pid=""
    done
    echo "$name: could not start Xvfb on a free display" >&2
    exit 1
}
