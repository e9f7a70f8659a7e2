#!/usr/bin/env bash
# Boards per hour at a station that serves boards one after another. An operator (this script)
# seats a simulated USB board, waits until the SQLite store holds its record (looking every
# 50 ms), pulls it, takes HANDS seconds to reach for the next one and seats it; BOARDS boards in
# all, each getting an image of BYTES random bytes (a Cortex-M vector table first) with a checked
# serial number from a pool, on a line paced at BAUD (0: not paced). The station is
# `tamrivo-cli --wait`, or with --window the window's automatic line (tamrivo-bench-window --line,
# a project with the same image, store, pool and number's place). One board goes first, untimed:
# the window connects with it, and both stations are then waiting when the clock starts. Prints
# boards per hour, the mean time per board (and from seating to record), the station's CPU over
# the timed boards, and checks every pulled board's flash: the image, with a number of its own.
#   bash bench/line.sh [-n BOARDS] [-s BYTES] [-b BAUD] [-h HANDS] [--window] [-- SIM ARGS]
#   defaults: 10 boards, 8192 bytes, 19200 baud, 0.5 s. KEEP=1 keeps the work folder.
# STORE=FILE takes that SQLite store (the boards before it stay, uncounted); WINDOW_ARGS are more
# arguments for tamrivo-bench-window (--lang en --shot FILE: the panel pictures, docs/measurements.md).
set -euo pipefail
bin=${BIN:-$(cd "$(dirname "$0")/../build/bin" && pwd)}
boards=10 size=8192 baud=19200 hands=0.5 mode=cli
while [ $# -gt 0 ]; do
    case $1 in
        -n) boards=$2 ;; -s) size=$2 ;; -b) baud=$2 ;; -h) hands=$2 ;;
        --window) mode=window; shift; continue ;;
        --) shift; break ;;
        *) sed -n 12,13p "$0" >&2; exit 2 ;;
    esac
    shift 2
done
work=$(mktemp -d /tmp/tamrivo-line.XXXXXX)
sim= tool=
cleanup() {
    [ -z "$tool" ] || kill -INT "$tool" 2>/dev/null || true
    [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# The number sits in the middle of the image, whose bytes there are left erased for it. The
# vector table (stack in RAM, an odd reset handler inside the image) spares the window's question
# about it.
serial_off=$(( size / 2 / 8 * 8 ))
flash=$(( 0x3000 + (size + 0x7FF) / 0x400 * 0x400 ))
store=${STORE:-$work/store.sqlite}
before=$(sqlite3 "$store" "SELECT COALESCE(MAX(id), 0) FROM jobs" 2>/dev/null || echo 0)
python3 - "$work" "$size" "$serial_off" "$flash" "$store" <<'PY'
import hashlib, json, os, sys
work, size, off, flash, store = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
image = bytearray(os.urandom(size))
image[0:8] = (0x20005000).to_bytes(4, 'little') + (0x08003101).to_bytes(4, 'little')
image[off:off + 8] = b'\xff' * 8
open(f'{work}/image.bin', 'wb').write(image)
project = {'format': 'tamrivo-project', 'version': 1, 'image': 'image.bin',
           'sha256': hashlib.sha256(image).hexdigest(),
           'device': {'start': '0x08003000', 'end': f'0x{0x08000000 + flash - 1:08x}', 'pageSize': 1024},
           'serial': {'address': f'0x{0x08003000 + off:08x}', 'format': 'le32c', 'pool': 'line'},
           'store': f'sqlite:{store}'}
json.dump(project, open(f'{work}/line.tamrivo', 'w'), indent=4)
PY
tool_baud=$baud
[ "$baud" != 0 ] || tool_baud=19200     # -b 0: the simulator answers at once

"$bin/tamrivo-loader-sim" --link "$work/port" --pull-unlinks --no-board --baud "$baud" --flash-size "$flash" \
    --dump "$work/flash" "$@" > "$work/sim.out" 2> "$work/sim.log" &
sim=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
[ -s "$work/sim.out" ] || { echo "the simulated loader did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

# The station: started once, it serves every board that comes; its CPU is read from /proc before
# it is stopped. The window connects to the first board, so that one is seated before.
start_station() {
    case $mode in
        cli)
            "$bin/tamrivo-cli" --wait --port "$work/port" --baud "$tool_baud" --db "sqlite:$store" \
                --journal "$work/journal" --serial-at $(( 0x08003000 + serial_off )) --serial-format le32c \
                --serial-pool line --quiet --json write "$work/image.bin" > "$work/records" 2> "$work/station.log" &
            tool=$! ;;
        window)
            "$bin/tamrivo-bench-window" --port "$work/port" --baud "$tool_baud" --line "$work/line.tamrivo" \
                ${WINDOW_ARGS:-} > "$work/records" 2> "$work/station.log" &
            tool=$! ;;
    esac
}
station_cpu() {     # user + system seconds of the station so far, all its threads
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$tool/stat"
}
records() { sqlite3 "$store" "SELECT COUNT(*) FROM jobs WHERE id > $before" 2>/dev/null || echo 0; }

# Seats board i (0: the untimed first), waits for its record and pulls it.
serve() {
    local i=$1 seated=$EPOCHREALTIME deadline=$(( ${EPOCHREALTIME%.*} + 600 ))
    kill -USR2 "$sim"
    [ -n "$tool" ] || { until [ -e "$work/port" ]; do sleep 0.05; done; start_station; }
    until [ "$(records)" -gt "$i" ]; do
        kill -0 "$tool" 2>/dev/null || { echo "the station ended:" >&2; cat "$work/station.log" >&2; exit 1; }
        [ "${EPOCHREALTIME%.*}" -lt "$deadline" ] || { echo "board $i: no record in 600 s" >&2; exit 1; }
        sleep 0.05
    done
    [ "$i" = 0 ] || echo "$seated $EPOCHREALTIME" >> "$work/times"
    kill -USR1 "$sim"
}

[ "$mode" = window ] || start_station
echo "$boards boards, image $size bytes, $baud baud, hands $hands s, station: $mode"
: > "$work/times"
serve 0
sleep "$hands"
start=$EPOCHREALTIME
cpu0=$(station_cpu)
for i in $(seq "$boards"); do
    serve "$i"
    [ "$i" -eq "$boards" ] || sleep "$hands"
done
end=$EPOCHREALTIME
cpu=$(awk -v a="$cpu0" -v b="$(station_cpu)" 'BEGIN { printf "%.2f", b - a }')
kill -INT "$tool"
wait "$tool" 2>/dev/null || true
tool=
[ "$mode" = cli ] || grep '^line: \|^result \|^box: ' "$work/records" || true
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=

python3 - "$work" "$boards" "$start" "$end" "$cpu" "$serial_off" "$store" "$before" <<'PY'
import sqlite3, sys
work, boards, start, end, cpu, off, store, before = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), \
    float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), sys.argv[7], int(sys.argv[8])
wall = end - start
served = [float(b) - float(a) for a, b in (line.split() for line in open(f'{work}/times'))]
db = sqlite3.connect(store)
classes = dict(db.execute('SELECT result_class, COUNT(*) FROM jobs WHERE id > ? GROUP BY result_class', (before,)))
job = db.execute('SELECT AVG(seconds) FROM jobs WHERE id > ?', (before,)).fetchone()[0]
image = open(f'{work}/image.bin', 'rb').read()
numbers, bad = [], []
for b in range(1, boards + 2):
    flash = open(f'{work}/flash.b{b}', 'rb').read()[0x3000:0x3000 + len(image)]
    word, check = (int.from_bytes(flash[off + k:off + k + 4], 'little') for k in (0, 4))
    numbers.append(word)
    if word ^ check != 0xFFFFFFFF or flash[:off] + b'\xff' * 8 + flash[off + 8:] != image:
        bad.append(b)
bad += [b for b in range(1, boards + 2) if numbers.count(numbers[b - 1]) > 1 and b not in bad]
print(f'{boards / wall * 3600:.0f} boards per hour: {wall:.1f} s for {boards} boards, {wall / boards:.2f} s a board, '
      f'{sum(served) / len(served):.2f} s of it from seating to record, the job itself {job:.2f} s')
print(f'station CPU {cpu:.2f} s = {100 * cpu / wall:.1f} % of a core over the timed boards; '
      f'records {classes} (the first board included)')
print('boards checked: image and a number of their own' if not bad else f'boards wrong: {bad}')
sys.exit(1 if bad or classes.get('ok', 0) != boards + 1 else 0)
PY
