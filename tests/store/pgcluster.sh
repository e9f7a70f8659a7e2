#!/bin/sh
# A throwaway PostgreSQL server for the store tests.
#   pgcluster.sh start STATE   starts one on 127.0.0.1 and a free port
#   pgcluster.sh stop STATE    stops it and removes every file of it
#   pgcluster.sh pause STATE   stops the server, keeping its files
#   pgcluster.sh resume STATE  starts it again, on the same port
# STATE is a folder for the tests: "port" holds the port, "pgpass" a libpq
# password file (user tamrivo) for PGPASSFILE, "data" where the cluster
# lives (a temporary folder). The server refuses to run as root, so under
# root it runs as nobody.
set -eu
action=$1
state=$2
bin=${TAMRIVO_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
    echo "pgcluster.sh: no PostgreSQL server here (Debian: apt-get install postgresql)" >&2
    exit 1
fi

server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

# Starts the server of STATE on port $1.
run() {
    server "$bin/pg_ctl" -D "$data/db" -l "$data/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$1 -c unix_socket_directories=$data -c fsync=off" start >/dev/null
}

stop() {
    if [ -f "$state/data" ]; then
        data=$(cat "$state/data")
        if [ -f "$data/db/postmaster.pid" ]; then
            (cd "$data" && server "$bin/pg_ctl" -D "$data/db" -m fast -w stop >/dev/null) || true
        fi
        case $data in /tmp/tamrivo-pg.*) rm -rf "$data" ;; esac
    fi
    rm -rf "$state"
}

case $action in
stop)
    stop
    ;;
pause)
    data=$(cat "$state/data")
    (cd "$data" && server "$bin/pg_ctl" -D "$data/db" -m fast -w stop >/dev/null)
    ;;
resume)
    data=$(cat "$state/data")
    port=$(cat "$state/port")
    cd "$data"
    run "$port"
    ;;
start)
    stop    # what an interrupted run left
    mkdir -p "$state"
    data=$(mktemp -d /tmp/tamrivo-pg.XXXXXX)
    echo "$data" >"$state/data"
    trap stop EXIT
    umask 077
    password=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
    echo "$password" >"$data/password"
    [ "$(id -u)" -ne 0 ] || chown -R nobody "$data"
    cd "$data"    # nobody may not see the folder ctest runs in
    server "$bin/initdb" -D "$data/db" -U tamrivo --pwfile="$data/password" --auth=scram-sha-256 \
        --no-locale -E UTF8 >"$data/initdb.log" 2>&1 || { cat "$data/initdb.log" >&2; exit 1; }
    rm -f "$data/password"
    # A port somebody else takes first only costs another try.
    started=
    for try in 1 2 3 4 5 6 7 8 9 10; do
        port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 40000))
        if run "$port"; then
            started=yes
            break
        fi
    done
    [ -n "$started" ] || { cat "$data/server.log" >&2; exit 1; }
    echo "$port" >"$state/port"
    echo "127.0.0.1:$port:*:tamrivo:$password" >"$state/pgpass"
    trap - EXIT
    ;;
*)
    echo "usage: pgcluster.sh start|stop|pause|resume STATE" >&2
    exit 2
    ;;
esac
