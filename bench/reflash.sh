#!/usr/bin/env bash
# Reflashing at 19200 baud, as ratios to a full job of the same 48 KiB image
# on a fresh simulated device (flash that refuses to program a cell twice):
# the same image again, one page changed and a blank device, each with
# --skip-unchanged; and each dry run's estimate against the job it plans.
#   bash bench/reflash.sh [-b BAUD] [-s BYTES]
set -euo pipefail
bin=${BIN:-$(dirname "$0")/../build/bin}
baud=19200 size=49152
while getopts "b:s:" opt; do
    case $opt in
        b) baud=$OPTARG ;; s) size=$OPTARG ;; *) exit 2 ;;
    esac
done
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/image.bin"
# One byte in the middle page changed.
python3 - "$work" <<'PY'
import sys
data = bytearray(open(f"{sys.argv[1]}/image.bin", "rb").read())
data[len(data) // 2] ^= 1
open(f"{sys.argv[1]}/changed.bin", "wb").write(data)
PY

start_sim() {   # start_sim DUMP [FLASH]
    local args=(--baud "$baud" --strict-rewrite --dump "$1")
    [ -n "${2:-}" ] && args+=(--image "$2")
    : > "$work/port"
    "$bin/tamrivo-loader-sim" "${args[@]}" > "$work/port" 2> "$work/sim.log" &
    sim=$!
    for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "the simulated loader did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
}
stop_sim() { kill "$sim"; wait "$sim" 2>/dev/null || true; sim=; }

# job NAME FILE FLASH [OPTIONS...]: a dry run, then the job, each on a fresh
# device holding FLASH (empty: erased); prints the job's seconds and the
# dry run's estimate.
job() {
    local name=$1 file=$2 flash=$3
    shift 3
    start_sim "$work/$name.dry.bin" "$flash"
    "$bin/tamrivo-cli" --port "$(head -1 "$work/port")" --baud "$baud" --quiet --json --dry-run "$@" \
        write "$file" > "$work/$name.dry.json" 2> "$work/$name.dry.err"
    stop_sim
    start_sim "$work/$name.bin" "$flash"
    "$bin/tamrivo-cli" --port "$(head -1 "$work/port")" --baud "$baud" --quiet --json "$@" \
        write "$file" > "$work/$name.json" 2> "$work/$name.err"
    stop_sim
    python3 - "$work/$name.json" "$work/$name.dry.json" "$name" <<'PY'
import json, sys
done, dry = (json.load(open(p)) for p in sys.argv[1:3])
plan = dry["plan"]
assert done["status"] == "ok", done
print(f'{sys.argv[3]:<14} {done["seconds"]:8.2f} s  pages erased {done["pages"]:3}, unchanged {done.get("pagesSkipped", 0):3};'
      f' estimate {plan["estimatedSeconds"]:8.2f} s ({plan["estimatedSeconds"] / done["seconds"] - 1:+.1%},'
      f' turnaround {plan["turnaroundMs"]} ms)')
PY
}

echo "image $size bytes at $baud baud"
job full "$work/image.bin" ""
job same "$work/image.bin" "$work/full.bin" --skip-unchanged
job one-page "$work/changed.bin" "$work/full.bin" --skip-unchanged
job blank "$work/image.bin" "" --skip-unchanged
# Every job must leave the same flash as a full write of its image.
cmp -s "$work/full.bin" "$work/same.bin" && cmp -s "$work/full.bin" "$work/blank.bin" \
    || { echo "a skipping job left other flash than the full one" >&2; exit 1; }
python3 - "$work" <<'PY'
import json, sys
w = sys.argv[1]
t = {n: json.load(open(f"{w}/{n}.json"))["seconds"] for n in ("full", "same", "one-page", "blank")}
est = json.load(open(f"{w}/full.dry.json"))["plan"]["estimatedSeconds"]
rows = [("the same image again", t["same"] / t["full"], 0.55), ("one page changed", t["one-page"] / t["full"], 0.60),
        ("a blank device, skipping", t["blank"] / t["full"], 1.04)]
bad = 0
for name, ratio, goal in rows:
    ok = ratio <= goal
    bad += not ok
    print(f"{name:<26} {ratio:.3f} x the full job ({'ok' if ok else 'MISSED'}: goal <= {goal})")
off = abs(est / t["full"] - 1)
bad += off > 0.03
print(f"{'dry run estimate':<26} {est:.2f} s against {t['full']:.2f} s measured, off by {off:.1%} ({'ok' if off <= 0.03 else 'MISSED'}: goal <= 3 %)")
sys.exit(1 if bad else 0)
PY
