#!/usr/bin/env bash
# The Windows programs, under Wine, against the simulated loader on Linux
# through a Wine COM port (COM7 -> the simulator's pseudo-terminal):
#   bash tools/windows/e2e.sh [--kib N] [STEP...]   (default 8 KiB, every step)
# STEP: flash faults interrupt exits window.
# tamrivo-cli.exe writes, verifies and reads back an N KiB image at 19200
# baud, byte-exact, also with replies lost, damaged and sent twice; Ctrl-C
# ends a write with the application's first block still erased; exit codes
# as documented; the same write by the Linux tamrivo-cli for comparison.
# Then the window (tamrivo-bench-window.exe on a virtual display) connects,
# writes the image in Russian and grabs itself, and a second run finds the
# data file it chose in the registry.
#
# Needs build-win (tools/windows/build.sh) and the Linux build/ (the
# simulator and tamrivo-cli). Wine 8 needs two things to carry a COM port
# on a pseudo-terminal (tools/windows/README.md): the ptymodem.c shim,
# preloaded into Wine, and Qt Serial Port with the comm-event patch, which
# is put beside the programs here only: the deploy folder and the
# installer keep Qt's own.
set -euo pipefail
# Every Wine process of the run on one virtual display: the window needs
# one, and Wine's desktop is made once, by the first process.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1366x768x24" bash "$0" "$@"
fi
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
build=${BUILD_DIR:-$repo/build-win}
linux=${LINUX_BUILD:-$repo/build}
kib=8
if [ "${1:-}" = "--kib" ]; then kib=$2; shift 2; fi
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(flash faults interrupt exits window)
qt=$build/qt/qt5.15.8-mingw-w64-x86_64
work=$build/e2e
sim=$linux/bin/tamrivo-loader-sim
cli=$linux/bin/tamrivo-cli
for f in "$sim" "$cli" "$build/deploy/tamrivo-cli.exe" "$build/bin/tamrivo-bench-window.exe"; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "e2e: no $f (build both first)" >&2; exit 1; }
done

step() { echo "e2e: $*"; }
fail() { echo "e2e: FAILED: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/app"
gcc -shared -fPIC -O2 -Wall -Wextra tools/windows/ptymodem.c -o "$work/ptymodem.so" -ldl
patched=$build/qtserialport-patched/bin/Qt5SerialPort.dll
[ -f "$patched" ] || bash tools/windows/build-serialport.sh "$qt" "$build/qtserialport-patched" >/dev/null
cp -r "$build/deploy/." "$work/app/"
cp "$patched" "$build/bin/tamrivo-bench-window.exe" "$qt/bin/Qt5Test.dll" "$work/app/"
cp "$qt/plugins/platforms/qoffscreen.dll" "$work/app/platforms/"

export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all WINEPATH=
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ -f "$WINEPREFIX/system.reg" ] || { wine wineboot -i >/dev/null 2>&1; wineserver -w; }
# A wineserver started without the shim would serve the port without it;
# this one stays for the whole run, so that its processor time can be read.
wineserver -k >/dev/null 2>&1 || true
LD_PRELOAD=$work/ptymodem.so wineserver -f -p >"$work/wineserver.log" 2>&1 &
server=$!
sleep 1
# Wine's own services start with the first program and outlive it; started
# here, they keep a file open rather than the output of whatever runs this.
LD_PRELOAD=$work/ptymodem.so wine wineboot >"$work/wineboot.log" 2>&1 </dev/null
wine_() { LD_PRELOAD=$work/ptymodem.so wine "$@"; }
# utime + stime of a process so far, in clock ticks
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
win() { winepath -w "$1"; }

link=$work/sim
sim_pid=
start_sim() {
    "$sim" --link "$link" --baud 19200 --boot-check "$work/image.bin" --verbose "$@" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
    [ -e "$link" ] || fail "the simulator made no $link"
    ln -sfn "$(readlink -f "$link")" "$WINEPREFIX/dosdevices/com7"
}
# The simulator's own check: a flash whose application starts must hold
# the whole image (exit 3 otherwise).
stop_sim() {
    [ -n "$sim_pid" ] || return 0
    kill "$sim_pid" 2>/dev/null || true
    local status=0
    wait "$sim_pid" || status=$?
    sim_pid=
    [ $status -ne 3 ] || fail "the simulator's boot check: a half-written application would start"
}
trap 'stop_sim || true; wineserver -k >/dev/null 2>&1 || true; wait $server 2>/dev/null || true' EXIT

head -c $((kib * 1024)) /dev/urandom >"$work/image.bin"
cp "$work/image.bin" "$work/other.bin"
printf '\x55' | dd of="$work/other.bin" bs=1 seek=$((kib * 512)) conv=notrunc status=none
range=(--baud 19200 --start 0x08003000)
wincli() { wine_ "$work/app/tamrivo-cli.exe" --port COM7 "${range[@]}" --quiet "$@"; }
seconds() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

flash() {
step "write, verify and read back $kib KiB, Linux tamrivo-cli then tamrivo-cli.exe under Wine"
start_sim
t0=$(date +%s.%N); "$cli" --port "$link" "${range[@]}" --quiet write "$work/image.bin"; linux_write=$(seconds "$t0")
t0=$(date +%s.%N); wincli write "$(win "$work/image.bin")"; wine_write=$(seconds "$t0")
t0=$(date +%s.%N); wincli verify "$(win "$work/image.bin")"; wine_verify=$(seconds "$t0")
wincli read "$(win "$work/back.bin")" --length $((kib * 1024))
cmp "$work/image.bin" "$work/back.bin" || fail "the read-back differs from the image"
stop_sim
step "write: Linux ${linux_write} s, Wine ${wine_write} s; verify under Wine ${wine_verify} s; read-back byte-exact"
}

faults() {
step "write with replies lost, damaged and sent twice, then verify on Linux"
start_sim --fault drop:cmd=0x64:arg=0x12:frame=7 --fault crc:cmd=0x64:arg=0x12:frame=19 \
    --fault again:cmd=0x64:arg=0x12:frame=31:ms=30 --fault drop:cmd=0x21:frame=2
wincli write "$(win "$work/image.bin")" || fail "the write did not recover (exit $?)"
"$cli" --port "$link" "${range[@]}" --quiet verify "$work/image.bin" || fail "the flash differs after the faulted write"
stop_sim
}

# Ctrl-C to the tamrivo-cli.exe started in the background as job, after
# the given seconds, as a console user presses it; its exit in status.
ctrl_c_after() {
    local seconds=$1 job=$2 pid
    sleep "$seconds"
    pid=$(pgrep -f 'app.tamrivo-cli\.exe' | head -1) || fail "no tamrivo-cli.exe process"
    kill -INT "$pid"
    status=0
    wait "$job" || status=$?
}

interrupt() {
step "Ctrl-C part way through a write"
start_sim --write-delay 40
wincli write "$(win "$work/image.bin")" &
ctrl_c_after 6 $!
[ $status -eq 130 ] || fail "Ctrl-C: exit $status, not 130"
"$cli" --port "$link" --baud 19200 --start 0x08003000 --quiet read "$work/first.bin" --length 64
[ "$(tr -d '\377' <"$work/first.bin" | wc -c)" -eq 0 ] || fail "Ctrl-C left the application's first block programmed"
stop_sim
step "Ctrl-C: exit 130, the first block erased"
}

exits() {
step "exit codes"
start_sim
expect() {
    local want=$1; shift
    local got=0
    "$@" 2>"$work/exit.err" || got=$?
    [ "$got" -eq "$want" ] || fail "exit $got, not $want: $* ($(tr -d '\r' <"$work/exit.err" | tail -1))"
}
# One block each, against the erased flash of a new simulator.
head -c 64 /dev/zero | tr '\0' '\377' >"$work/erased.bin"
expect 0 wincli verify "$(win "$work/erased.bin")"
head -c 64 "$work/image.bin" >"$work/block.bin"
expect 6 wincli verify "$(win "$work/block.bin")"
expect 2 wincli write "$(win "$work/missing.bin")"
expect 3 wine_ "$work/app/tamrivo-cli.exe" --port COM33 --quiet info
stop_sim
start_sim --fault drop:count=-1
server0=$(ticks $server)
TIMEFORMAT="%R %U %S"
{ time expect 4 wincli info; } 2>"$work/silent.time"
read -r real user sys <"$work/silent.time"
server1=$(ticks $server)
stop_sim
step "exit codes 0, 6, 2, 3, 4 as documented"
step "a silent device: ${real} s of retries, tamrivo-cli.exe ${user} s user ${sys} s system, wineserver $(( (server1 - server0) * 10 )) ms"
step "Ctrl-C at a station waiting for a device"
wine_ "$work/app/tamrivo-cli.exe" --port COM7 --baud 19200 --wait info >"$work/station.log" 2>&1 &
ctrl_c_after 4 $!
[ $status -eq 0 ] && tr -d '\r' <"$work/station.log" | grep -q '^0 devices succeeded, 0 failed' ||
    fail "the station's Ctrl-C: exit $status, $(tr -d '\r' <"$work/station.log" | tail -1)"
step "Ctrl-C ended the station: exit 0, its count printed"
}

window() {
step "the window in Russian: connect, write, grab; then the data file from the registry"
start_sim
# The bench drives the window offscreen: on the virtual display through
# Windows' own platform plugin it never got past its start under Wine.
# (Offscreen under Wine finds no fonts: its pictures carry no text.)
export QT_QPA_PLATFORM=offscreen
wine_ "$work/app/tamrivo-bench-window.exe" --port COM7 --lang ru --shot "$(win "$work/window-ru.png")" \
    "$(win "$work/image.bin")" >"$work/window1.log" 2>&1 || { cat "$work/window1.log" >&2; fail "the window's write"; }
wine_ "$work/app/tamrivo-bench-window.exe" --port COM7 --lang ru "$(win "$work/image.bin")" \
    >"$work/window2.log" 2>&1 || { cat "$work/window2.log" >&2; fail "the window's second write"; }
stop_sim
tr -d '\r' <"$work/window1.log" | grep '^result'
[ -s "$work/window-ru.png" ] || fail "no picture of the window"
remembered=$(tr -d '\r' <"$work/window2.log" | sed -n 's/^remembered data file: //p')
[ "$remembered" = "$(win "$work/image.bin" | tr '\\' /)" ] ||
    [ "$(winepath -u "$remembered" 2>/dev/null)" = "$work/image.bin" ] ||
    fail "the second run remembered '$remembered'"
wine reg query 'HKCU\Software\ostrel.example\Tamrivo' >"$work/registry.txt" 2>/dev/null
unset QT_QPA_PLATFORM
# The window itself, through Windows' platform plugin, on the display.
wine_ "$work/app/tamrivo.exe" --lang ru >"$work/window3.log" 2>&1 &
shown=
for _ in $(seq 30); do
    sleep 1
    shown=$(xwininfo -root -tree | grep -o '"Tamrivo": ("tamrivo.exe"[^)]*)  [0-9x+]*' || true)
    [ -n "$shown" ] && break
done
pid=$(pgrep -f 'app.tamrivo\.exe' | head -1 || true)
[ -n "$pid" ] && kill "$pid"
[ -n "$shown" ] || fail "tamrivo.exe showed no window on the display"
step "window: shown on the display as $shown"
step "window: wrote the image, picture in $work/window-ru.png; remembered $remembered (registry: $(grep -c REG_ "$work/registry.txt") values)"
}

for name in "${steps[@]}"; do
    case $name in
        flash|faults|interrupt|exits|window) "$name" ;;
        *) fail "no step $name (flash faults interrupt exits window)" ;;
    esac
done
step "passed: ${steps[*]}"
