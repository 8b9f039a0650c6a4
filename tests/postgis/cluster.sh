#!/usr/bin/env bash
# Starts or stops the private PostgreSQL + PostGIS server of the database tests: a cluster
# made by initdb in a temporary folder, listening on a unix socket and, with SSL only, on a
# port of the loopback address, with a database "selvane_test" that has PostGIS. The libpq
# connection strings are written to STATE/conninfo (the socket) and STATE/conninfo_ssl;
# stop removes the cluster, whatever state the tests left it in.
#
#   bash tests/postgis/cluster.sh start|stop STATE
#
# SELVANE_PG_SERVER_OPTIONS adds server settings (the benchmarks give it more memory).
set -euo pipefail
action=$1
state=$2

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
  echo "cluster.sh: PostgreSQL is not installed (bash scripts/setup.sh database)" >&2
  exit 1
fi
# initdb refuses to run as root: the cluster then belongs to the postgres account.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop() {
  if [ -f "$state/cluster" ]; then
    local cluster
    cluster=$(cat "$state/cluster")
    if [ -d "$cluster/data" ]; then as_owner "$bin/pg_ctl" -D "$cluster/data" -m immediate stop >/dev/null 2>&1 || true; fi
    rm -rf "$cluster"
  fi
  rm -rf "$state"
}

case "$action" in
  start)
    stop
    mkdir -p "$state"
    # Short, so that the socket's path stays within the limit of a unix address.
    cluster=$(mktemp -d /tmp/selvane-pg.XXXXXX)
    echo "$cluster" >"$state/cluster"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$cluster"; fi
    as_owner "$bin/initdb" -D "$cluster/data" -U selvane -A trust -E UTF8 --no-sync >"$state/initdb.log"
    # One role logs in with a password, so that a wrong one can be tried; the rest are trusted.
    # The loopback address takes SSL only, as Debian's clusters offer it, so that what a
    # map may ask of libpq's SSL is tried against a server that answers.
    printf 'local all selvane_password scram-sha-256\nlocal all all trust\nhostssl all all 127.0.0.1/32 trust\n' \
      >"$cluster/data/pg_hba.conf"
    openssl req -new -x509 -days 2 -nodes -subj /CN=localhost -keyout "$cluster/data/server.key" \
      -out "$cluster/data/server.crt" >/dev/null 2>&1
    chmod 600 "$cluster/data/server.key"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$cluster/data/server.key" "$cluster/data/server.crt"; fi
    # A port of its own on the loopback address: another run's cluster may hold one.
    for attempt in 1 2 3 4 5 6; do
      port=$((20000 + RANDOM % 40000))
      if as_owner "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $cluster -c ssl=on -c fsync=off -c synchronous_commit=off -c full_page_writes=off ${SELVANE_PG_SERVER_OPTIONS:-}" \
        start >/dev/null; then break; fi
      if [ "$attempt" -eq 6 ]; then echo "cluster.sh: the server did not start (see $cluster/server.log)" >&2; exit 1; fi
    done
    as_owner "$bin/createdb" -h "$cluster" -p "$port" -U selvane selvane_test
    as_owner "$bin/psql" -h "$cluster" -p "$port" -U selvane -d selvane_test -q -v ON_ERROR_STOP=1 \
      -c "CREATE EXTENSION postgis" >/dev/null
    echo "host=$cluster port=$port user=selvane dbname=selvane_test" >"$state/conninfo"
    echo "host=127.0.0.1 port=$port user=selvane dbname=selvane_test" >"$state/conninfo_ssl"
    ;;
  stop) stop ;;
  *) echo "usage: cluster.sh start|stop STATE" >&2; exit 2 ;;
esac
