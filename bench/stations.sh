#!/usr/bin/env bash
#   bash bench/stations.sh [--rounds 25] [--stations 8] [--boards 4] [--fault-rate 0.05] [--seed 1]
#                          [--bin build/bin] [--store postgres|sqlite|none|all] [--baud 19200|0]
#                          [--kill-rate 0] [--restarts 0] [--down 3] [--format le32c|le32]
# A production line on one machine: every round each station runs one tamrivo-cli that writes the
# same image, with a serial number, into its boards (one simulated loader each, all stations at
# once against one store); a board may get a fault. A failed board goes back into its socket next
# round with the flash it had, a passed one is replaced by an erased one; after the last round the
# boards still failed are retried without faults until they pass. Then it checks the numbers on the
# boards against the store, and compares the time of a round with the store and without it.
# --kill-rate kills a station's tool (SIGKILL) in that share of its rounds, part way through;
# --restarts stops the PostgreSQL server that many times, each in the middle of a round, for
# --down seconds (SQLite has no server to stop). The numbers go in --format (le32c: the number
# and its complement, which a reworked board must show whole to keep its number).
# --baud 0 runs the loaders unpaced; KEEP=1 keeps the work folder (the tools' output, the dumps).
# Exit 1 if a check fails or a store costs a round more than 5 %.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rounds=25 stations=8 boards=4 rate=0.05 seed=1 bin=$here/../build/bin store=all baud=19200
killrate=0 restarts=0 down=3 format=le32c
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2 ;; --stations) stations=$2 ;; --boards) boards=$2 ;; --fault-rate) rate=$2 ;;
        --seed) seed=$2 ;; --bin) bin=$2 ;; --store) store=$2 ;; --baud) baud=$2 ;;
        --kill-rate) killrate=$2 ;; --restarts) restarts=$2 ;; --down) down=$2 ;; --format) format=$2 ;;
        *) sed -n 2,4p "$0" >&2; exit 2 ;;
    esac
    shift 2
done
case $store in all) stores="postgres sqlite none" ;; postgres|sqlite|none) stores=$store ;; *) sed -n 2,4p "$0" >&2; exit 2 ;; esac
case $format in le32|le32c) ;; *) sed -n 2,4p "$0" >&2; exit 2 ;; esac
work=$(mktemp -d /tmp/tamrivo-stations.XXXXXX)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ ! -d "$work/pg" ] || sh "$here/../tests/store/pgcluster.sh" stop "$work/pg" || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# The bookkeeping: the fault plan, what each board left in its flash, and the checks at the end.
cat > "$work/book.py" <<'EOF'
import json, os, random, statistics, subprocess, sys
cmd, a = sys.argv[1], sys.argv[2:]
SERIAL = 0x3400   # the serial number's offset in a dump (0x08003400)
def jlines(path):
    return [json.loads(l) for l in open(path) if l.strip()] if os.path.exists(path) else []
if cmd == 'plan':   # the same faults for every store: drawn per round and board, hit or not
    seed, rounds, stations, boards, rate, size = int(a[0]), int(a[1]), int(a[2]), int(a[3]), float(a[4]), int(a[5])
    rng = random.Random(seed)
    image = bytearray(rng.randbytes(size))
    image[SERIAL - 0x3000:SERIAL - 0x3000 + 8] = b'\xff' * 8   # the number's place is left blank for it
    open(a[6], 'wb').write(image)
    killrate, restarts, other = float(a[7]), int(a[8]), random.Random(seed + 1)   # the faults' draws stay as they were
    with open(a[9], 'w') as kills:   # round, station, how far into the round (a share of a round's time)
        for r in range(1, rounds + 1):
            for s in range(1, stations + 1):
                if other.random() < killrate:
                    print(r, s, f'{other.uniform(0.2, 0.9):.2f}', file=kills)
    with open(a[10], 'w') as stops:  # rounds in which the store's server stops, evenly spread
        for k in range(1, restarts + 1):
            print(max(1, k * rounds // (restarts + 1)), f'{other.uniform(0.2, 0.6):.2f}', file=stops)
    writes, reads = (size + 63) // 64, (size + 63) // 64 + 1   # a read of the serial's place comes first
    kinds = [('status:cmd=0x21:frame=%d', 3), ('status:cmd=0x21:count=-1', 1), ('drop:cmd=0x64:arg=0x12:frame=%d', writes),
             ('vanish:cmd=0x64:arg=0x12:frame=%d', writes), ('worn:cmd=0x64:arg=0x12:frame=%d', writes),
             ('crc:cmd=0x64:arg=0x02:frame=%d', reads), ('drop:cmd=0x64:arg=0x02:frame=%d', reads),
             ('vanish:cmd=0x64:arg=0x02:frame=%d', reads)]
    for r in range(1, rounds + 1):
        for s in range(1, stations + 1):
            for b in range(1, boards + 1):
                hit, (kind, n), frame = rng.random() < rate, rng.choice(kinds), rng.random()
                print(r, s, b, (kind % (1 + int(frame * n)) if '%' in kind else kind) if hit else '-')
elif cmd == 'settle':   # after a round: which boards passed, what their flash holds
    d, tag, ports, secs, serial, image, fmt = a[0], a[1], a[2], a[3], a[4] == 'yes', open(a[5], 'rb').read(), a[6]
    recs = {r['port']: r for s in os.listdir(f'{d}/r{tag}') if s.endswith('.json') for r in jlines(f'{d}/r{tag}/{s}')}
    killed = set(open(f'{d}/r{tag}/killed').read().split()) if os.path.exists(f'{d}/r{tag}/killed') else set()
    width = 8 if fmt == 'le32c' else 4
    def number_in(flash):   # the number a board shows; None when blank, -1 when damaged
        n = int.from_bytes(flash[SERIAL:SERIAL + 4], 'little')
        if fmt == 'le32c':
            c = int.from_bytes(flash[SERIAL + 4:SERIAL + 8], 'little')
            return None if n == c == 0xFFFFFFFF else n if n ^ c == 0xFFFFFFFF else -1
        return None if n == 0xFFFFFFFF else n
    def encoded(n):
        return n.to_bytes(4, 'little') + ((n ^ 0xFFFFFFFF).to_bytes(4, 'little') if fmt == 'le32c' else b'')
    done, failed = 0, []
    for line in open(f'{d}/r{tag}/positions'):
        s, b, fault = line.split()
        name = f's{s}b{b}'
        rec, dump = recs.get(f'{ports}/{name}', {}), f'{d}/dump/{name}'
        flash = open(dump, 'rb').read() if os.path.exists(dump) else b''
        number = number_in(flash) if flash else None
        want = image[:0x400] + encoded(number) + image[0x400 + width:] if serial and number not in (None, -1) else image
        ok = rec.get('status') == 'ok' and s not in killed
        with open(f'{d}/ledger', 'a') as f:
            print(json.dumps({'round': tag, 'board': name, 'fault': fault, 'record': bool(rec), 'passed': ok,
                              'killed': s in killed,
                              'class': rec.get('class'), 'serial': rec.get('serial'), 'state': rec.get('serialState'),
                              'rework': rec.get('rework'), 'flash': number, 'image': flash[0x3000:0x3000 + len(image)] == want}), file=f)
        if ok:
            done += 1
            if os.path.exists(f'{d}/rework/{name}'): os.remove(f'{d}/rework/{name}')
        else:
            failed.append(f'{name} {"killed" if s in killed else rec.get("class", "no record")}' + (f' serial {rec["serial"]} {rec.get("serialState")}' if rec.get('serial') else ''))
            if flash: os.replace(dump, f'{d}/rework/{name}')
    print(f'  round {tag}: {secs} s, {done} passed' + (f', stations killed: {" ".join(sorted(killed))}' if killed else '') + (', failed: ' + '; '.join(failed) if failed else ''))
elif cmd == 'check':   # the goals, against the boards and the store
    import glob
    d, store, bin_, db, journal = a
    led = jlines(f'{d}/ledger')
    passed = [e for e in led if e['passed']]
    last = {e['board']: e for e in led}   # a socket's latest board
    out = [last[n] for n in os.listdir(f'{d}/rework')]
    bad = 0
    def goal(ok, text):
        global bad
        bad += not ok
        print(f'  [{"ok" if ok else "FAIL"}] {text}')
    print(f'  jobs {len(led)}, passed {len(passed)}, failed {len(led) - len(passed)} ({sum(e["killed"] for e in led)} in killed'
          f' runs), rework jobs {sum(bool(e["rework"]) for e in led)}, boards still failed {len(out)}')
    goal(all(e['image'] for e in passed), 'every passed board holds the image' + (' and its number' if db else ''))
    if not db:
        sys.exit(bad)
    def report(*x):
        run = subprocess.run([f'{bin_}/tamrivo-cli', '--db', db, '--journal', journal, 'report', '--json', *x],
                             capture_output=True, text=True, check=True)
        return [json.loads(l) for l in run.stdout.splitlines() if l.strip()]
    records = report()   # delivers what the journals still hold first
    if store == 'sqlite':
        import sqlite3
        rows = sqlite3.connect(db[len('sqlite:'):]).execute("SELECT serial, state FROM serials WHERE pool = 'bench'").fetchall()
    else:
        import re, shutil
        host, port, name = re.match(r'postgresql://[^@]*@([^:/]+):(\d+)/(\w+)', db).groups()
        psql = shutil.which('psql') or sorted(glob.glob('/usr/lib/postgresql/*/bin/psql'))[-1]
        run = subprocess.run([psql, '-h', host, '-p', port, '-U', 'tamrivo', '-d', name, '-At', '-F', ' ', '-c',
                              "SELECT serial, state FROM serials WHERE pool = 'bench'"], capture_output=True, text=True, check=True)
        rows = [(int(x.split()[0]), x.split()[1]) for x in run.stdout.splitlines() if x.strip()]
    states = dict(rows)
    numbers = [e['flash'] for e in passed]
    dup = sorted({n for n in numbers if numbers.count(n) > 1})
    goal(all(n not in (None, -1) for n in numbers) and not dup and all(e['serial'] == e['flash'] for e in passed),
         f'(1) numbers on two boards: {len(dup)}; {len(numbers)} passed boards hold {len(set(numbers))} whole numbers,'
         f' each the one their record gives' + (f'; on two boards: {dup}' if dup else ''))
    committed = sorted(n for n, st in states.items() if st == 'committed')
    ok_records = sorted(r['serial'] for r in records if r['class'] == 'ok' and r.get('serial') is not None)
    goal(committed == sorted(numbers) == ok_records,
         f'(2) the store has {len(committed)} numbers committed and {len(ok_records)} ok records with a number: the passed boards\''
         f' {len(numbers)}')
    count = {st: sum(1 for x in states.values() if x == st) for st in ('committed', 'held', 'free', 'void', 'reserved')}
    held = {n for n, st in states.items() if st == 'held'}
    still = {e['flash'] for e in out if e['flash'] in held}
    top = max(states or [0])
    unknown = sorted(set(range(1, top + 1)) - set(states))
    goal(not unknown, f'(3) numbers 1..{top}: ' + ', '.join(f'{v} {k}' for k, v in count.items())
         + f' (held on boards still failed: {len(still)}); never given out: {len(unknown)}' + (f' {unknown[:20]}' if unknown else ''))
    for n in dup + unknown[:10]:   # each such number's jobs
        print(f'      {n}: ' + ', '.join(f'r{e["round"]} {e["board"]} {e["class"]} serial {e["serial"]} {e["state"]}{" rework" if e["rework"] else ""}'
                                     f' fault {e["fault"]} flash {e["flash"]}' for e in led if n in (e['serial'], e['flash'])))
    classes = {}
    for r in records:
        classes[r['class']] = classes.get(r['class'], 0) + 1
    goal(len(records) == len(led), f'(4) {len(records)} records in the store ({", ".join(f"{v} {k}" for k, v in sorted(classes.items()))}),'
         f' {len(led)} jobs run')
    goal(count['reserved'] == 0, f'(5) numbers in doubt at the end: {count["reserved"]}')
    goal(not [f for f in glob.glob(f'{journal}/*.journal')], f'(6) journal files left undelivered: {len(glob.glob(f"{journal}/*.journal"))}')
    sys.exit(bad)
elif cmd == 'times':   # a round's time with each store, and the store's cost against none
    bad, rows = 0, {s: [float(x.split()[1]) for x in open(f'{a[0]}/{s}/times')] for s in a[1:]}
    for s, t in rows.items():
        cost = ''
        if s != 'none' and 'none' in rows:
            pct = 100 * (statistics.mean(t) / statistics.mean(rows['none']) - 1)
            bad += pct > 5
            cost = f', cost {pct:+.1f} % of the mean ({"ok" if pct <= 5 else "FAIL"}: goal <= 5 %)'
        print(f'  {s:8} {len(t)} rounds: mean {statistics.mean(t):.3f} s, median {statistics.median(t):.3f} s, max {max(t):.3f} s{cost}')
    sys.exit(bad)
EOF

size=3000
python3 "$work/book.py" plan "$seed" "$rounds" "$stations" "$boards" "$rate" "$size" "$work/image.bin" \
    "$killrate" "$restarts" "$work/kills" "$work/stops" > "$work/plan"
echo "$stations stations x $boards boards x $rounds rounds, fault rate $rate, seed $seed, image $size bytes, baud $baud," \
     "$(grep -vc ' -$' "$work/plan") faults planned, $(wc -l < "$work/kills") runs killed, $(wc -l < "$work/stops") store" \
     "restarts (PostgreSQL); failed boards of the last round are retried without faults until they pass"

# The PostgreSQL server stopped (every session cut off) and started again on the same port.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
pg() { (cd "$(cat "$work/pg/data")" && if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$pg_bin/pg_ctl" "$@"; else "$pg_bin/pg_ctl" "$@"; fi) > /dev/null; }
pgrestart() {   # AFTER-SECONDS
    local data
    data=$(cat "$work/pg/data")
    sleep "$1"
    pg -D "$data/db" -m fast -w stop
    echo "    store stopped for $down s" >&2
    sleep "$down"
    pg -D "$data/db" -l "$data/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$(cat "$work/pg/port") -c unix_socket_directories=$data -c fsync=off" start
}
toolbaud=(); case $baud in 9600|19200) toolbaud=(--baud "$baud") ;; esac
simbaud=(); [ "$baud" = 0 ] || simbaud=(--baud "$baud")

# One round: a loader per board in the positions file (its flash from rework/ if it failed before),
# then every station's tool at once, timed alone; then the loaders dump their flash.
round() {   # DIR TAG STORE-ARGS...
    local d=$1 tag=$2 s b fault args pids=() start end
    shift 2
    rm -rf "$d/dump" && mkdir -p "$d/dump" "$d/sims"
    sims=()
    while read -r s b fault; do
        args=(--link "$work/ports/s${s}b$b" --dump "$d/dump/s${s}b$b" "${simbaud[@]}")
        [ ! -f "$d/rework/s${s}b$b" ] || args+=(--image "$d/rework/s${s}b$b")
        [ "$fault" = - ] || args+=(--fault "$fault")
        "$bin/tamrivo-loader-sim" "${args[@]}" > "$d/sims/s${s}b$b" 2>> "$d/sim.log" &
        sims+=($!)
    done < "$d/r$tag/positions"
    # By name, not by a glob: a loader just started may not have made its file yet.
    while read -r s b fault; do
        f=$d/sims/s${s}b$b
        for _ in $(seq 300); do [ ! -s "$f" ] || break; sleep 0.02; done
        [ -s "$f" ] || { echo "a loader did not start: $f" >&2; exit 1; }
    done < "$d/r$tag/positions"
    start=$EPOCHREALTIME
    for s in $(cut -d' ' -f1 "$d/r$tag/positions" | sort -un); do
        args=()
        for b in $(awk -v s="$s" '$1 == s { print $2 }' "$d/r$tag/positions"); do args+=(--port "$work/ports/s${s}b$b"); done
        "$bin/tamrivo-cli" "${args[@]}" --station "st$s" "$@" --json --quiet "${toolbaud[@]}" write "$work/image.bin" \
            > "$d/r$tag/st$s.json" 2> "$d/r$tag/st$s.err" &
        pids+=($!)
    done
    # A share of a round's time: the mean of the rounds so far, 4 s before the first.
    typical=$(python3 -c "import sys; t=[float(l.split()[1]) for l in open(sys.argv[1])] if __import__('os').path.exists(sys.argv[1]) else []; print(sum(t)/len(t) if t else 4)" "$d/times")
    : > "$d/r$tag/killed"
    local killers=() i=0 at
    for s in $(cut -d' ' -f1 "$d/r$tag/positions" | sort -un); do
        at=$(awk -v r="$tag" -v s="$s" -v t="$typical" '$1 == r && $2 == s { print $3 * t }' "$work/kills")
        if [ -n "$at" ]; then
            (sleep "$at"; kill -KILL "${pids[$i]}" 2>/dev/null) &
            killers+=($!)
            echo "$s" >> "$d/r$tag/killed"
        fi
        i=$((i + 1))
    done
    at=$(awk -v r="$tag" -v t="$typical" '$1 == r { print $2 * t }' "$work/stops")
    if [ -n "$at" ] && [ "$store_now" = postgres ]; then pgrestart "$at" & killers+=($!); fi
    # A killed tool is the plan, not news: bash would say so for each.
    for pid in "${pids[@]}"; do { wait "$pid" || true; } 2> /dev/null; done
    end=$EPOCHREALTIME
    for pid in "${killers[@]}"; do wait "$pid" || true; done
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" || echo "loader $pid ended with $?" >&2; done
    sims=() && rm -rf "$d/sims"
    secs=$(python3 -c "print(f'{$end - $start:.3f}')")
    [[ $tag == retry* ]] || echo "$tag $secs" >> "$d/times"
    python3 "$work/book.py" settle "$d" "$tag" "$work/ports" "$secs" "$serial" "$work/image.bin" "$format"
}

mkdir -p "$work/ports"
status=0
for st in $stores; do
    d=$work/$st db=
    mkdir -p "$d/rework"
    case $st in
        postgres)
            sh "$here/../tests/store/pgcluster.sh" start "$work/pg"
            PGPASSWORD=$(cut -d: -f5 "$work/pg/pgpass") && export PGPASSWORD
            db=postgresql://tamrivo@127.0.0.1:$(cat "$work/pg/port")/postgres ;;
        sqlite) db=sqlite:$d/production.sqlite ;;
    esac
    serial=no storeargs=() store_now=$st
    [ -z "$db" ] || { serial=yes storeargs=(--serial-at 0x08003400 --serial-format "$format" --serial-pool bench --db "$db"
                                             --journal "$d/journal"); }
    echo "== $st${db:+ ($db)}, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    begin=$SECONDS
    for r in $(seq "$rounds"); do
        mkdir -p "$d/r$r" && awk -v r="$r" '$1 == r { print $2, $3, $4 }' "$work/plan" > "$d/r$r/positions"
        round "$d" "$r" "${storeargs[@]}"
    done
    for try in $(seq 10); do
        [ -n "$(ls "$d/rework")" ] || break
        mkdir -p "$d/rretry$try"
        ls "$d/rework" | sed 's/^s\([0-9]*\)b\([0-9]*\)$/\1 \2 -/' > "$d/rretry$try/positions"
        round "$d" "retry$try" "${storeargs[@]}"
    done
    echo "  $st: $((SECONDS - begin)) s in all, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    python3 "$work/book.py" check "$d" "$st" "$bin" "$db" "$d/journal" || status=1
    [ "$st" != postgres ] || { sh "$here/../tests/store/pgcluster.sh" stop "$work/pg"; unset PGPASSWORD; }
done
echo "== time of a round (the tools' run only, loaders already up)"
python3 "$work/book.py" times "$work" $stores || status=1
exit $status
