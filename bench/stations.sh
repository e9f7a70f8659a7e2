#!/usr/bin/env bash
#   bash bench/stations.sh [--rounds 25] [--stations 8] [--boards 4] [--fault-rate 0.05] [--seed 1]
#                          [--bin build/bin] [--store postgres|sqlite|none|all] [--baud 19200|0]
# A production line on one machine: every round each station runs one tamrivo-cli that writes the
# same image, with a serial number, into its boards (one simulated loader each, all stations at
# once against one store); a board may get a fault. A failed board goes back into its socket next
# round with the flash it had, a passed one is replaced by an erased one; after the last round the
# boards still failed are retried without faults until they pass. Then it checks the numbers on the
# boards against the store, and compares the time of a round with the store and without it.
# --baud 0 runs the loaders unpaced; KEEP=1 keeps the work folder (the tools' output, the dumps).
# Exit 1 if a check fails or a store costs a round more than 5 %.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rounds=25 stations=8 boards=4 rate=0.05 seed=1 bin=$here/../build/bin store=all baud=19200
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2 ;; --stations) stations=$2 ;; --boards) boards=$2 ;; --fault-rate) rate=$2 ;;
        --seed) seed=$2 ;; --bin) bin=$2 ;; --store) store=$2 ;; --baud) baud=$2 ;;
        *) sed -n 2,3p "$0" >&2; exit 2 ;;
    esac
    shift 2
done
case $store in all) stores="postgres sqlite none" ;; postgres|sqlite|none) stores=$store ;; *) sed -n 2,3p "$0" >&2; exit 2 ;; esac
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
    image[0x400:0x408] = b'\xff' * 8   # the serial number's place, left erased
    open(a[6], 'wb').write(image)
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
    d, tag, ports, secs, serial, image = a[0], a[1], a[2], a[3], a[4] == 'yes', open(a[5], 'rb').read()
    recs = {r['port']: r for s in os.listdir(f'{d}/r{tag}') if s.endswith('.json') for r in jlines(f'{d}/r{tag}/{s}')}
    done, failed = 0, []
    for line in open(f'{d}/r{tag}/positions'):
        s, b, fault = line.split()
        name = f's{s}b{b}'
        rec, dump = recs.get(f'{ports}/{name}', {}), f'{d}/dump/{name}'
        flash = open(dump, 'rb').read() if os.path.exists(dump) else b''
        number = int.from_bytes(flash[SERIAL:SERIAL + 4], 'little') if flash else None
        want = image[:0x400] + number.to_bytes(4, 'little') + (number ^ 0xFFFFFFFF).to_bytes(4, 'little') + image[0x408:] \
            if serial and flash else image
        ok = rec.get('status') == 'ok'
        with open(f'{d}/ledger', 'a') as f:
            print(json.dumps({'round': tag, 'board': name, 'fault': fault, 'record': bool(rec), 'passed': ok,
                              'class': rec.get('class'), 'serial': rec.get('serial'), 'state': rec.get('serialState'),
                              'rework': rec.get('rework'), 'flash': number, 'image': flash[0x3000:0x3000 + len(image)] == want}), file=f)
        if ok:
            done += 1
            if os.path.exists(f'{d}/rework/{name}'): os.remove(f'{d}/rework/{name}')
        else:
            failed.append(f'{name} {rec.get("class", "no record")}' + (f' serial {rec["serial"]} {rec.get("serialState")}' if rec.get('serial') else ''))
            if flash: os.replace(dump, f'{d}/rework/{name}')
    print(f'  round {tag}: {secs} s, {done} passed' + (', failed: ' + '; '.join(failed) if failed else ''))
elif cmd == 'check':   # the goals, against the boards and the store
    d, store, bin_, db = a
    led = jlines(f'{d}/ledger')
    passed = [e for e in led if e['passed']]
    last = {e['board']: e for e in led}   # a socket's latest board
    out = [last[n] for n in os.listdir(f'{d}/rework')]
    bad = 0
    def goal(ok, text):
        global bad
        bad += not ok
        print(f'  [{"ok" if ok else "FAIL"}] {text}')
    print(f'  jobs {len(led)}, passed {len(passed)}, failed {len(led) - len(passed)}, rework jobs {sum(bool(e["rework"]) for e in led)}, boards still failed {len(out)}')
    goal(all(e['image'] for e in passed), 'every passed board holds the image' + (' and its number' if db else ''))
    if not db:
        sys.exit(bad)
    def report(*x):
        run = subprocess.run([f'{bin_}/tamrivo-cli', '--db', db, 'report', '--json', *x], capture_output=True, text=True, check=True)
        return [json.loads(l) for l in run.stdout.splitlines() if l.strip()]
    records, doubt = report(), report('--in-doubt')
    numbers = [e['flash'] for e in passed]
    dup = sorted({n for n in numbers if numbers.count(n) > 1})
    goal(all(n not in (None, 0xFFFFFFFF) for n in numbers) and not dup and all(e['serial'] == e['flash'] for e in passed),
         f'(1) {len(numbers)} passed boards hold {len(set(numbers))} distinct numbers, each the one their record gives' + (f'; on two boards: {dup}' if dup else ''))
    committed = sorted(r['serial'] for r in records if r['class'] == 'ok' and r.get('serial') is not None)
    goal(committed == sorted(numbers), f'(2) the store has {len(committed)} ok records with a number, the passed boards\' numbers')
    held = {r['serial']: r for r in doubt if r['state'] == 'held'}
    still = {e['flash'] for e in out if e['flash'] in held}
    top = max([r['serial'] for r in records if r.get('serial') is not None] or [0])
    replaced = {r['replaced'] for r in records if r.get('replaced') is not None}   # void once their board got another
    gaps = sorted(set(range(1, top + 1)) - set(numbers) - still - replaced)
    goal(not gaps, f'(3) highest number given out {top}; the numbers on passed boards ({len(set(numbers))}), the held ones on'
         f' boards still failed ({len(still)}) and those replaced ({len(replaced)}) leave {len(gaps)} gaps' + (f': {gaps[:20]}' if gaps else ''))
    for n in dup + gaps[:10]:   # each such number's jobs
        print(f'      {n}: ' + ', '.join(f'r{e["round"]} {e["board"]} {e["class"]} serial {e["serial"]} {e["state"]}{" rework" if e["rework"] else ""}'
                                     f' fault {e["fault"]} flash {e["flash"]}' for e in led if n in (e['serial'], e['flash'])))
    goal(len(records) == len(led) and all(e['record'] for e in led), f'(4) {len(records)} records in the store, {len(led)} jobs run')
    goal(not any(r['state'] == 'in doubt' for r in doubt), f'numbers in doubt: {sum(r["state"] == "in doubt" for r in doubt)}'
         f' (held: {len(held)} {sorted(held)[:20]})')
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
python3 "$work/book.py" plan "$seed" "$rounds" "$stations" "$boards" "$rate" "$size" "$work/image.bin" > "$work/plan"
echo "$stations stations x $boards boards x $rounds rounds, fault rate $rate, seed $seed, image $size bytes, baud $baud," \
     "$(grep -vc ' -$' "$work/plan") faults planned; failed boards of the last round are retried without faults until they pass"
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
    for f in "$d"/sims/*; do
        for _ in $(seq 300); do [ ! -s "$f" ] || break; sleep 0.02; done
        [ -s "$f" ] || { echo "a loader did not start: $f" >&2; exit 1; }
    done
    start=$EPOCHREALTIME
    for s in $(cut -d' ' -f1 "$d/r$tag/positions" | sort -un); do
        args=()
        for b in $(awk -v s="$s" '$1 == s { print $2 }' "$d/r$tag/positions"); do args+=(--port "$work/ports/s${s}b$b"); done
        "$bin/tamrivo-cli" "${args[@]}" --station "st$s" "$@" --json --quiet "${toolbaud[@]}" write "$work/image.bin" \
            > "$d/r$tag/st$s.json" 2> "$d/r$tag/st$s.err" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || true; done
    end=$EPOCHREALTIME
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" || echo "loader $pid ended with $?" >&2; done
    sims=() && rm -rf "$d/sims"
    secs=$(python3 -c "print(f'{$end - $start:.3f}')")
    [[ $tag == retry* ]] || echo "$tag $secs" >> "$d/times"
    python3 "$work/book.py" settle "$d" "$tag" "$work/ports" "$secs" "$serial" "$work/image.bin"
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
    serial=no storeargs=()
    [ -z "$db" ] || { serial=yes storeargs=(--serial-at 0x08003400 --serial-format le32c --serial-pool bench --db "$db"); }
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
    python3 "$work/book.py" check "$d" "$st" "$bin" "$db" || status=1
    [ "$st" != postgres ] || { sh "$here/../tests/store/pgcluster.sh" stop "$work/pg"; unset PGPASSWORD; }
done
echo "== time of a round (the tools' run only, loaders already up)"
python3 "$work/book.py" times "$work" $stores || status=1
exit $status
