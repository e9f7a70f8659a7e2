#!/usr/bin/env bash
# Writes one random image through tamrivo-cli into a fresh simulated loader
# for each block size given, and prints the job's time against the wire
# time of the same job in 64-byte blocks, and how many frames were sent
# again (retries).
#   bash bench/wirejob.sh [-b BAUD] [-s BYTES] [-k "64 128 248"] [-- SIM ARGS]
# e.g. bash bench/wirejob.sh -b 9600 -s 2048 -k 64 -- --latency 45
set -euo pipefail
bin=${BIN:-$(dirname "$0")/../build/bin}
baud=19200 size=49152 sizes="64 128 248"
while getopts "b:s:k:" opt; do
    case $opt in
        b) baud=$OPTARG ;; s) size=$OPTARG ;; k) sizes=$OPTARG ;; *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ "${1:-}" = "--" ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/image.bin"

page=1024
pages=$(( (size + page - 1) / page ))
# Characters on the line: an erase is a 22-character frame and a 10-character
# acknowledgement; a block of n bytes takes 2n + 32 characters to write
# (frame and acknowledgement) and as many to read back (frame and reply).
chars() {
    local n=$1 total=$((pages * 32 + 10 + 30)) offset=0 len
    while [ "$offset" -lt "$size" ]; do
        len=$(( size - offset < n ? size - offset : n ))
        total=$(( total + 2 * (2 * len + 32) ))
        offset=$(( offset + len ))
    done
    echo "$total"
}
wire64=$(awk -v c="$(chars 64)" -v b="$baud" 'BEGIN { printf "%.2f", c * 10 / b }')
echo "image $size bytes, $baud baud; wire time in 64-byte blocks: $wire64 s"
for n in $sizes; do
    "$bin/tamrivo-loader-sim" --baud "$baud" --verbose "$@" > "$work/port" 2> "$work/sim.log" &
    sim=$!
    for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "the simulated loader did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
    start=$(date +%s.%N)
    status=0
    sizeOption=()
    [ "$n" = 64 ] || sizeOption=(--block-size "$n")
    "$bin/tamrivo-cli" --port "$(head -1 "$work/port")" --baud "$baud" --quiet "${sizeOption[@]}" \
        write "$work/image.bin" > /dev/null || status=$?
    end=$(date +%s.%N)
    kill "$sim"; wait "$sim" 2>/dev/null || true
    blocks=$(( (size + n - 1) / n ))
    frames=$(grep -c ' rx #' "$work/sim.log" || true)
    awk -v n="$n" -v s="$start" -v e="$end" -v w="$wire64" -v f="$frames" -v x=$((1 + pages + 2 * blocks)) -v st="$status" \
        'BEGIN { t = e - s; printf "block %3d: %7.2f s, %.3f x the 64-byte wire time, %d frames, %d sent again, exit %d\n", n, t, t / w, f, f - x, st }'
done
