#!/usr/bin/env bash
# Side by side on the same GeoPackages: `selvane select`, the bare GEOS program, PostGIS
# (a private server on a unix socket, the tables loaded with GiST indexes, one EXISTS query,
# warm) and, where installed, QGIS's extract-by-location. Prints the wall times (best of
# three), the peak memory of the two local programs and the ratios, and checks that all
# agree on the count.
#
#   bash bench/compare_engines.sh [--quick|--large|--huge]   (--quick: the 10k × 100k rows only; --large: the few
#                                                            large queries; --huge: 100k queries over 10M points)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh engines
cmake --preset release > /dev/null
cmake --build --preset release --target selvane bare_geos_select make_bench_data > /dev/null
bin=build/release
data=${TMPDIR:-/tmp}/selvane-bench
mkdir -p "$data"

source bench/scenarios.sh
bench_rows "${1:-}"
# A private PostgreSQL cluster on a unix socket in a temporary folder, stopped on exit.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
cluster=$(mktemp -d "${TMPDIR:-/tmp}/selvane-pg.XXXXXX")
chmod 755 "$cluster"
as_postgres() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
[ "$(id -u)" -ne 0 ] || chown postgres "$cluster"
stop_cluster() { as_postgres "$pg_bin/pg_ctl" -D "$cluster/data" -m immediate stop > /dev/null 2>&1 || true; rm -rf "$cluster"; }
trap stop_cluster EXIT
as_postgres "$pg_bin/initdb" -D "$cluster/data" -A trust -U bench > /dev/null
as_postgres "$pg_bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w \
  -o "-k $cluster -c listen_addresses='' -c shared_buffers=1GB -c work_mem=256MB" start > /dev/null
psql_bench() { "$pg_bin/psql" -h "$cluster" -U bench -d postgres -v ON_ERROR_STOP=1 -At "$@"; }
psql_bench -c "CREATE EXTENSION postgis" > /dev/null
pg="PG:host=$cluster dbname=postgres user=bench"


# Debian's qgis_process wrapper passes an option that the program itself refuses.
qgis=$(command -v qgis_process.bin || command -v qgis_process || true)
export QT_QPA_PLATFORM=offscreen
printf '%-7s %-10s %-15s %9s %9s %9s %9s %8s %8s %8s %9s\n' targets relation size selvane bare postgis qgis \
  sel/bare pg/sel qgis/sel "MiB s/b"
for row in "${rows[@]}"; do
  read -r kind relation predicate queries targets per_query <<< "$row"
  file="$data/${kind}-${queries}-${targets}-${per_query}.gpkg"
  [ -f "$file" ] || "$bin/bench/make_bench_data" "$file" "$queries" "$targets" "$kind" "$per_query"

  selvane_time=$(best_of_3 "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)
  selvane_count=$(count_of)
  bare_time=$(best_of_3 "$bin/bench/bare_geos_select" "$file" "$predicate")
  bare_count=$(count_of)
  memory="$(peak_mib "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)/$(peak_mib "$bin/bench/bare_geos_select" "$file" "$predicate")"

  table="${kind//-/_}_${queries}_${targets}_${per_query}"
  if [ "$(psql_bench -c "SELECT to_regclass('${table}_t') IS NOT NULL")" != t ]; then
    ogr2ogr -f PostgreSQL "$pg" "$file" queries -nln "${table}_q" -lco GEOMETRY_NAME=geom -lco SPATIAL_INDEX=GIST
    ogr2ogr -f PostgreSQL "$pg" "$file" targets -nln "${table}_t" -lco GEOMETRY_NAME=geom -lco SPATIAL_INDEX=GIST
    psql_bench -c "VACUUM ANALYZE ${table}_q" -c "VACUUM ANALYZE ${table}_t" > /dev/null
  fi
  sql="SELECT 'Selection Count: ' || count(*) FROM ${table}_t t WHERE EXISTS
       (SELECT 1 FROM ${table}_q q WHERE ST_${predicate^}(q.geom, t.geom))"
  psql_bench -c "$sql" > /dev/null  # warm
  postgis_time=$(best_of_3 psql_bench -c "$sql")
  postgis_count=$(count_of)

  qgis_time="-"
  qgis_count=$selvane_count
  if [ -n "$qgis" ]; then
    qgis_predicate=$(case $predicate in intersects) echo 0;; touches) echo 4;; overlaps) echo 5;; crosses) echo 7;; esac)
    qgis_time=$(best_of_3 sh -c "\"$qgis\" run native:extractbylocation --INPUT='$file|layername=targets' \
      --PREDICATE=$qgis_predicate --INTERSECT='$file|layername=queries' --OUTPUT='$data/qgis.gpkg' >/dev/null 2>&1 &&
      ogrinfo -q -sql 'SELECT COUNT(*) AS n FROM qgis' '$data/qgis.gpkg' | sed -n 's/.*n (Integer) = /Selection Count: /p'")
    qgis_count=$(count_of)
  fi

  for other in "$bare_count" "$postgis_count" "$qgis_count"; do
    [ "$other" = "$selvane_count" ] || echo "MISMATCH on $kind $relation: selvane $selvane_count, another $other"
  done
  ratio() { if [ "$1" = "-" ]; then echo "-"; else printf '%.2f' "$(echo "$1 / $2" | bc -l)"; fi; }
  printf '%-7s %-10s %-15s %8.3fs %8.3fs %8.3fs %9s %8s %8s %8s %9s\n' "$kind" "$relation" \
    "$([ "$per_query" = 10 ] && echo "${queries}x${targets}" || echo "${queries}Lx${targets}")" \
    "$selvane_time" "$bare_time" "$postgis_time" "$qgis_time" "$(ratio "$selvane_time" "$bare_time")" \
    "$(ratio "$postgis_time" "$selvane_time")" "$(ratio "$qgis_time" "$selvane_time")" "$memory"
done
