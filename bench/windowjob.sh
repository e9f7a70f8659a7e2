#!/usr/bin/env bash
# Writes the same random image N times through tamrivo-cli and through the
# window (tamrivo-bench-window), each into a freshly started simulated
# loader paced at the line's rate, and prints the times and the window's
# processor load.
#   bash bench/windowjob.sh [-n RUNS] [-b BAUD] [-s BYTES] [-- SIM ARGS]
#
# Two measures are compared, each the same way on both sides:
#   job:     the write itself, after the connect and the parameter query:
#            the CLI's "in X s" (its ProgrammingJob run) against the window's
#            time from the summary's OK to the success note;
#   session: the CLI's JSON "seconds" (port open, parameter query and job)
#            against the window's click on write to its success note, which
#            has no connect in it: the connect column says how much that is.
set -euo pipefail
bin=${BIN:-$(dirname "$0")/../build/bin}
runs=3 baud=19200 size=49152
while getopts "n:b:s:" opt; do
    case $opt in
        n) runs=$OPTARG ;; b) baud=$OPTARG ;; s) size=$OPTARG ;; *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ "${1:-}" = "--" ] && shift
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/image.bin"

# A fresh simulated loader, its pseudo-terminal's path in $work/port.
start_sim() {
    rm -f "$work/port"
    "$bin/tamrivo-loader-sim" --baud "$baud" "$@" > "$work/port" 2> "$work/sim.log" &
    sim=$!
    for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "the simulated loader did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
}

stop_sim() {
    kill "$sim"; wait "$sim" 2>/dev/null || true
    sim=
}

echo "image $size bytes, $baud baud, $runs runs; sha256 $(sha256sum "$work/image.bin" | cut -c1-16)..."
printf '%-4s %-7s %9s %9s %9s %9s %8s %8s\n' run side process session connect job cpu% jobcpu%
results=()
for run in $(seq "$runs"); do
    start_sim "$@"
    begin=$(date +%s.%N)
    status=0
    "$bin/tamrivo-cli" --port "$(head -1 "$work/port")" --baud "$baud" --quiet --json \
        write "$work/image.bin" > "$work/cli.json" 2> "$work/cli.err" || status=$?
    end=$(date +%s.%N)
    stop_sim
    session=$(sed -n 's/.*"seconds":\([0-9.]*\).*/\1/p' "$work/cli.json")
    job=$(sed -n 's/.* in \([0-9.]*\) s, .*/\1/p' "$work/cli.err")
    process=$(awk -v s="$begin" -v e="$end" 'BEGIN { printf "%.2f", e - s }')
    # The CLI's session less its job is its connect and parameter query.
    connect=$(awk -v s="${session:-0}" -v j="${job:-0}" 'BEGIN { printf "%.2f", s - j }')
    printf '%-4s %-7s %9s %9s %9s %9s %8s %8s  exit %d\n' "$run" cli "$process" "${session:--}" "$connect" \
        "${job:--}" - - "$status"
    [ "$status" = 0 ] || { cat "$work/cli.err" >&2; exit 1; }
    cliSession=$session cliJob=$job

    start_sim "$@"
    begin=$(date +%s.%N)
    status=0
    "$bin/tamrivo-bench-window" --port "$(head -1 "$work/port")" --baud "$baud" "$work/image.bin" \
        > "$work/window.out" 2> "$work/window.err" || status=$?
    end=$(date +%s.%N)
    stop_sim
    process=$(awk -v s="$begin" -v e="$end" 'BEGIN { printf "%.2f", e - s }')
    line=$(grep '^result ' "$work/window.out" || true)
    value() { sed -n "s/.* $1=\\([-0-9.]*\\).*/\\1/p" <<< "$line"; }
    printf '%-4s %-7s %9s %9.2f %9.2f %9.2f %8.2f %8.2f  exit %d\n' "$run" window "$process" "$(value job)" \
        "$(value connect)" "$(value proper)" "$(value cpupct)" "$(value properpct)" "$status"
    if [ "$status" != 0 ]; then
        # The window's link traces every reply on standard output: the end is enough.
        tail -n 20 "$work/window.out" >&2; tail -n 20 "$work/window.err" >&2
        exit 1
    fi
    grep '^box: \|^window' "$work/window.out" | sed 's/^/     /'
    results+=("$cliSession $cliJob $(value job) $(value proper) $(value cpupct) $(value properpct)")
done

printf '%s\n' "${results[@]}" | awk '
    { session += $3 / $1; job += $4 / $2; cpu += $5; jobcpu += $6; n++ }
    END {
        printf "mean over %d runs: job window/cli %.4f; session (window from the click, cli whole) %.4f;\n", n, job / n, session / n
        printf "window cpu %.2f %% of one core from the click, %.2f %% during the job proper\n", cpu / n, jobcpu / n
    }'
