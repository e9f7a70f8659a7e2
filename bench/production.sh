#!/usr/bin/env bash
# A production bench on one machine: one tamrivo-cli run writes the same
# image into 1, 4 and 8 simulated boards (one simulator playing them all,
# paced at the line rate) and prints each run's wall time against the
# first run (one board by default), and the CPU the tool itself used (user + system) as a
# share of one core over the run.
#   bash bench/production.sh [-b BAUD] [-s BYTES] [-n "1 4 8"] [-- SIM ARGS]
set -euo pipefail
bin=${BIN:-$(dirname "$0")/../build/bin}
baud=19200 size=8192 counts="1 4 8"
while getopts "b:s:n:" opt; do
    case $opt in
        b) baud=$OPTARG ;; s) size=$OPTARG ;; n) counts=$OPTARG ;; *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ "${1:-}" = "--" ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/image.bin"
echo "image $size bytes, $baud baud, one tool process for all boards"

single=""
for count in $counts; do
    links=() ports=()
    for i in $(seq "$count"); do
        links+=(--link "$work/board$i")
        ports+=(--port "$work/board$i")
    done
    "$bin/tamrivo-loader-sim" --baud "$baud" "${links[@]}" "$@" > "$work/paths" 2> "$work/sim.log" &
    sim=$!
    for _ in $(seq 200); do [ "$(wc -l < "$work/paths")" -ge "$count" ] && break; sleep 0.1; done
    status=0
    /usr/bin/time -f "%e %U %S" -o "$work/time" \
        "$bin/tamrivo-cli" "${ports[@]}" --baud "$baud" --quiet --json write "$work/image.bin" > "$work/records" 2> /dev/null || status=$?
    kill "$sim"; wait "$sim" 2>/dev/null || true
    read -r wall user system < "$work/time"
    [ -n "$single" ] || single=$wall
    ok=$(grep -c '"status":"ok"' "$work/records" || true)
    awk -v c="$count" -v w="$wall" -v u="$user" -v s="$system" -v one="$single" -v ok="$ok" -v st="$status" \
        'BEGIN { printf "%d board(s): %6.2f s, %.3f x one board, tool CPU %.2f s = %.1f %% of a core, %d ok, exit %d\n",
                 c, w, w / one, u + s, 100 * (u + s) / w, ok, st }'
done
