#!/bin/bash
# Runs the serial port checks of the comprobe program against the simulated
# loader: natively (Linux build) and under Wine (Windows build, with the
# patched Qt Serial Port and the ptymodem shim).
#
#   run-checks.sh queries N      N parameter queries at 19200 baud, both ways
#   run-checks.sh faults N       N queries under Wine with replies dropped,
#                                split, doubled and preceded by garbage
#   run-checks.sh hangup         the simulator is killed mid-run under Wine
#   run-checks.sh idle SECONDS   CPU of the Wine process and of wineserver
#                                while the port is open and silent
#
# Paths come from the environment: SIM (tamrivo-loader-sim), LINUX_PROBE,
# WINE_PROBE (comprobe.exe, with Qt5Core.dll, the patched Qt5SerialPort.dll
# and the MinGW runtime beside it), SHIM (ptymodem.so), WINEPREFIX.
set -euo pipefail

: "${SIM:?path of tamrivo-loader-sim}" "${WINE_PROBE:?path of comprobe.exe}" "${SHIM:?path of ptymodem.so}"
: "${WINEPREFIX:?a Wine prefix made with wineboot -i}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
link=${LINK:-/tmp/comprobe-sim}
ln -sfn "$link" "$WINEPREFIX/dosdevices/com7"

sim_pid=
start_sim() {
    "$SIM" --link "$link" --baud 19200 "$@" >/tmp/comprobe-sim.log 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$link" ] && return; sleep 0.1; done
    echo "the simulator made no $link" >&2
    exit 1
}
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap stop_sim EXIT

wine_probe() {
    LD_PRELOAD="$SHIM" wine "$WINE_PROBE" COM7 "$@" 2>/tmp/comprobe-wine.err
}

timed_wine_probe() {
    timed env LD_PRELOAD="$SHIM" wine "$WINE_PROBE" COM7 "$@" 2> >(grep -E '^(CPU|error)' >&2)
}

# utime + stime of a process, in clock ticks
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# This prefix's wineserver (kept running with wineserver -p, so that its CPU
# can be read): its folder is named after the prefix's device and inode.
prefix_server() {
    local tag pid
    tag="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
    for pid in $(pgrep wineserver); do
        case "$(readlink "/proc/$pid/cwd")" in *"/$tag") echo "$pid"; return ;; esac
    done
    echo "no wineserver for $WINEPREFIX (start one with wineserver -p)" >&2
    exit 1
}

# CPU of a command (user, system) and of wineserver meanwhile
timed() {
    local server s0 s1
    server=$(prefix_server)
    s0=$(ticks "$server")
    /usr/bin/time -f "CPU: program user %U s, system %S s, wall %e s" "$@"
    s1=$(ticks "$server")
    awk -v s=$((s1 - s0)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "CPU: wineserver %.2f s\n", s / hz }'
}

case "${1:-}" in
queries)
    n=${2:-2000}
    for mode in blocking signals; do
        if [ -n "${LINUX_PROBE:-}" ]; then
            start_sim
            echo "== Linux, $mode"
            LD_PRELOAD="$SHIM" /usr/bin/time -f "CPU: program user %U s, system %S s, wall %e s" \
                "$LINUX_PROBE" "$link" queries "$n" "$mode"
            stop_sim
        fi
        start_sim
        echo "== Wine, $mode"
        timed_wine_probe queries "$n" "$mode"
        stop_sim
    done
    ;;
faults)
    n=${2:-500}
    start_sim --seed 7 --fault drop:cmd=0xA3:p=0.02 --fault split:p=0.05 \
        --fault garbage:p=0.03 --fault again:p=0.03:ms=5
    echo "== Wine, faults"
    wine_probe queries "$n" blocking
    stop_sim
    ;;
hangup)
    start_sim
    echo "== Wine, simulator killed after 3 s"
    (sleep 3; kill "$sim_pid" 2>/dev/null) &
    wine_probe hangup
    ;;
idle)
    seconds=${2:-10}
    start_sim
    echo "== Wine, port open and silent for $seconds s"
    wine_probe idle $((seconds + 2)) &
    probe=$!
    sleep 1
    exe=$(pgrep -n -f "comprobe.exe COM7 idle")
    server=$(prefix_server)
    e0=$(ticks "$exe"); s0=$(ticks "$server")
    sleep "$seconds"
    e1=$(ticks "$exe"); s1=$(ticks "$server")
    wait "$probe"
    hz=$(getconf CLK_TCK)
    awk -v e=$((e1 - e0)) -v s=$((s1 - s0)) -v hz="$hz" -v t="$seconds" 'BEGIN {
        printf "CPU over %d s: program %.2f s (%.1f%%), wineserver %.2f s (%.1f%%)\n",
               t, e / hz, 100 * e / hz / t, s / hz, 100 * s / hz / t }'
    stop_sim
    ;;
*)
    sed -n '2,/^set -euo/p' "$0" | sed '$d'
    exit 2
    ;;
esac
