#!/usr/bin/env bash
# Boards per hour at a station that serves boards one after another. An operator (this script)
# seats a simulated USB board, waits until the SQLite store holds its record (looking every
# 50 ms), pulls it, takes HANDS seconds to reach for the next one and seats it; BOARDS boards in
# all, each getting an image of BYTES random bytes with a checked serial number from a pool, on a
# line paced at BAUD (0: not paced). The station is `tamrivo-cli --wait`. Prints boards per hour, the mean time
# per board (and from seating to record), the station's CPU over the run, and checks every
# pulled board's flash: the image, with a number of its own.
#   bash bench/line.sh [-n BOARDS] [-s BYTES] [-b BAUD] [-h HANDS] [--window] [-- SIM ARGS]
#   defaults: 10 boards, 8192 bytes, 19200 baud, 0.5 s. KEEP=1 keeps the work folder.
# --window runs the same operator against the window's automatic line, once the window has one.
set -euo pipefail
bin=${BIN:-$(cd "$(dirname "$0")/../build/bin" && pwd)}
boards=10 size=8192 baud=19200 hands=0.5 mode=cli
while [ $# -gt 0 ]; do
    case $1 in
        -n) boards=$2 ;; -s) size=$2 ;; -b) baud=$2 ;; -h) hands=$2 ;;
        --window) mode=window; shift; continue ;;
        --) shift; break ;;
        *) sed -n 9,11p "$0" >&2; exit 2 ;;
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

# The number sits in the middle of the image, whose bytes there are left erased for it.
serial_off=$(( size / 2 / 8 * 8 ))
python3 - "$work/image.bin" "$size" "$serial_off" <<'PY'
import os, sys
path, size, off = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
image = bytearray(os.urandom(size))
image[off:off + 8] = b'\xff' * 8
open(path, 'wb').write(image)
PY
flash=$(( 0x3000 + (size + 0x7FF) / 0x400 * 0x400 ))
store=$work/store.sqlite
tool_baud=$baud
[ "$baud" != 0 ] || tool_baud=19200     # -b 0: the simulator answers at once

"$bin/tamrivo-loader-sim" --link "$work/port" --pull-unlinks --no-board --baud "$baud" --flash-size "$flash" \
    --dump "$work/flash" "$@" > "$work/sim.out" 2> "$work/sim.log" &
sim=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
[ -s "$work/sim.out" ] || { echo "the simulated loader did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

# The station: started once, it serves every board that comes; its CPU is read from /proc before
# it is stopped.
start_station() {
    case $mode in
        cli)
            "$bin/tamrivo-cli" --wait --port "$work/port" --baud "$tool_baud" --db "sqlite:$store" \
                --journal "$work/journal" --serial-at $(( 0x08003000 + serial_off )) --serial-format le32c \
                --serial-pool line --quiet --json write "$work/image.bin" > "$work/records" 2> "$work/station.log" &
            tool=$! ;;
        window)
            echo "--window: the window has no automatic line to drive yet" >&2
            exit 2 ;;
    esac
}
station_cpu() {     # user + system seconds of the station so far, all its threads
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$tool/stat"
}
records() { sqlite3 "$store" "SELECT COUNT(*) FROM jobs" 2>/dev/null || echo 0; }

start_station
echo "$boards boards, image $size bytes, $baud baud, hands $hands s, station: $mode"
: > "$work/times"
start=$EPOCHREALTIME
for i in $(seq "$boards"); do
    seated=$EPOCHREALTIME
    kill -USR2 "$sim"
    deadline=$(( ${EPOCHREALTIME%.*} + 600 ))
    until [ "$(records)" -ge "$i" ]; do
        kill -0 "$tool" 2>/dev/null || { echo "the station ended:" >&2; cat "$work/station.log" >&2; exit 1; }
        [ "${EPOCHREALTIME%.*}" -lt "$deadline" ] || { echo "board $i: no record in 600 s" >&2; exit 1; }
        sleep 0.05
    done
    echo "$seated $EPOCHREALTIME" >> "$work/times"
    kill -USR1 "$sim"
    [ "$i" -eq "$boards" ] || sleep "$hands"
done
end=$EPOCHREALTIME
cpu=$(station_cpu)
kill -INT "$tool"
wait "$tool" 2>/dev/null || true
tool=
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=

python3 - "$work" "$boards" "$start" "$end" "$cpu" "$serial_off" "$store" <<'PY'
import sqlite3, sys
work, boards, start, end, cpu, off, store = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), \
    float(sys.argv[5]), int(sys.argv[6]), sys.argv[7]
wall = end - start
served = [float(b) - float(a) for a, b in (line.split() for line in open(f'{work}/times'))]
db = sqlite3.connect(store)
classes = dict(db.execute('SELECT result_class, COUNT(*) FROM jobs GROUP BY result_class'))
job = db.execute('SELECT AVG(seconds) FROM jobs').fetchone()[0]
image = open(f'{work}/image.bin', 'rb').read()
numbers, bad = [], []
for b in range(1, boards + 1):
    flash = open(f'{work}/flash.b{b}', 'rb').read()[0x3000:0x3000 + len(image)]
    word, check = (int.from_bytes(flash[off + k:off + k + 4], 'little') for k in (0, 4))
    numbers.append(word)
    if word ^ check != 0xFFFFFFFF or flash[:off] + b'\xff' * 8 + flash[off + 8:] != image:
        bad.append(b)
bad += [b for b in range(1, boards + 1) if numbers.count(numbers[b - 1]) > 1 and b not in bad]
print(f'{boards / wall * 3600:.0f} boards per hour: {wall:.1f} s for {boards} boards, {wall / boards:.2f} s a board, '
      f'{sum(served) / len(served):.2f} s of it from seating to record, the job itself {job:.2f} s')
print(f'station CPU {cpu:.2f} s = {100 * cpu / wall:.1f} % of a core; records {classes}')
print('boards checked: image and a number of their own' if not bad else f'boards wrong: {bad}')
sys.exit(1 if bad or classes.get('ok', 0) != boards else 0)
PY
