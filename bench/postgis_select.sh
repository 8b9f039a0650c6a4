#!/usr/bin/env bash
# Layers in PostGIS, measured: the 100k × 1M scenarios (and the few large queries) with
# both layers in a private PostGIS server, against the same run on the GeoPackage (layers
# in memory) and against PostGIS's own single EXISTS query on the same tables; then a
# table of 10M points, with the peak memory of the selvane process. Wall times are the
# best of three, warm; every count is checked against the others. The CPU columns are the
# selvane process's seconds, then the whole machine's: with both layers in the database,
# the difference is the server's work (sending the rows), on the same cores.
#
#   bash bench/postgis_select.sh [--quick]     (--quick: the 10k × 100k rows, and 1M points)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/scenarios.sh
bench_prepare selvane make_bench_data

state=$(mktemp -d "${TMPDIR:-/tmp}/selvane-pg-state.XXXXXX")
trap 'bash tests/postgis/cluster.sh stop "$state"' EXIT
SELVANE_PG_SERVER_OPTIONS="-c shared_buffers=1GB -c work_mem=256MB -c maintenance_work_mem=1GB" \
  bash tests/postgis/cluster.sh start "$state"
conninfo=$(cat "$state/conninfo")
psql_bench() { psql "$conninfo" -v ON_ERROR_STOP=1 -At "$@"; }

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
document() {  # a map document with both layers in the database
  cat > "$data/postgis-map.json" <<JSON
{"layers": [
  {"type": "feature", "name": "targets", "source": "PG:$conninfo", "table": "$1"},
  {"type": "feature", "name": "queries", "source": "PG:$conninfo", "table": "$2"}]}
JSON
}
exists_sql() {
  echo "SELECT 'Selection Count: ' || count(*) FROM $1 t WHERE EXISTS (SELECT 1 FROM $2 q WHERE ST_$3(q.geom, t.geom))"
}

bench_rows "${1:-}"
printf '%-7s %-10s %-13s %10s %10s %10s %8s %8s %11s %11s %11s\n' targets relation size in-memory postgis exists \
  pg/mem pg/exists "MiB pg/mem" "CPU s mem" "CPU s pg"
for row in "${rows[@]}"; do
  read -r kind relation predicate queries targets per_query <<< "$row"
  [ "${1:-}" = "--quick" ] || [ "$queries" != 10000 ] || continue  # the 100k × 1M kit, and the few large
  file="$data/${kind}-${queries}-${targets}-${per_query}.gpkg"
  [ -f "$file" ] || "$bin/bench/make_bench_data" "$file" "$queries" "$targets" "$kind" "$per_query"
  table="${kind//-/_}_${queries}_${targets}_${per_query}"
  for part in queries targets; do
    ogr2ogr -f PostgreSQL "PG:$conninfo" "$file" "$part" -nln "${table}_${part}" -lco GEOMETRY_NAME=geom \
      -lco FID=fid -lco SPATIAL_INDEX=GIST
    psql_bench -c "VACUUM ANALYZE ${table}_${part}" > /dev/null
  done
  document "${table}_targets" "${table}_queries"

  memory_time=$(best_of_3 "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)
  memory_count=$(count_of)
  postgis_time=$(best_of_3 "$bin/apps/selvane" select --map "$data/postgis-map.json" --layer2 targets \
    --relation "$relation" --layer1 queries)
  postgis_count=$(count_of)
  sql=$(exists_sql "${table}_targets" "${table}_queries" "$predicate")
  exists_time=$(best_of_3 psql_bench -c "$sql")
  exists_count=$(count_of)
  memory="$(peak_mib "$bin/apps/selvane" select --map "$data/postgis-map.json" --layer2 targets --relation "$relation" \
    --layer1 queries)/$(peak_mib "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" \
    --layer1 queries)"
  # Where the time goes: the CPU of the selvane process, then of the whole machine (the
  # server's share is the difference), one run each.
  memory_cpu=$(cpu_split "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)
  postgis_cpu=$(cpu_split "$bin/apps/selvane" select --map "$data/postgis-map.json" --layer2 targets \
    --relation "$relation" --layer1 queries)
  for other in "$postgis_count" "$exists_count"; do
    [ "$other" = "$memory_count" ] || echo "MISMATCH on $kind $relation: in memory $memory_count, another $other"
  done
  printf '%-7s %-10s %-13s %9.3fs %9.3fs %9.3fs %8s %8s %11s %11s %11s\n' "$kind" "$relation" \
    "$([ "$per_query" = 10 ] && echo "${queries}x${targets}" || echo "${queries}Lx${targets}")" \
    "$memory_time" "$postgis_time" "$exists_time" "$(ratio "$postgis_time" "$memory_time")" \
    "$(ratio "$postgis_time" "$exists_time")" "$memory" "$memory_cpu" "$postgis_cpu"
  psql_bench -c "DROP TABLE ${table}_queries, ${table}_targets" > /dev/null  # keep the server's disk small
done

# A table too big to want in memory: 10M points on a 100 km square, queried by 10k
# squares of 100 m (about ten points each). Made in the server.
points=$([ "${1:-}" = "--quick" ] && echo 1000000 || echo 10000000)
psql_bench -q <<SQL
SELECT setseed(0.42);
CREATE TABLE big_targets AS SELECT g::bigint AS fid,
  ST_SetSRID(ST_MakePoint(random() * 100000, random() * 100000), 0)::geometry(Point, 0) AS geom
  FROM generate_series(1, $points) g;
ALTER TABLE big_targets ADD PRIMARY KEY (fid);
CREATE INDEX ON big_targets USING gist (geom);
CREATE TABLE big_queries AS SELECT g AS fid,
  ST_SetSRID(ST_MakeEnvelope(x, y, x + 100, y + 100), 0)::geometry(Polygon, 0) AS geom
  FROM (SELECT g, random() * 99900 AS x, random() * 99900 AS y FROM generate_series(1, 10000) g) s;
ALTER TABLE big_queries ADD PRIMARY KEY (fid);
CREATE INDEX ON big_queries USING gist (geom);
VACUUM ANALYZE big_targets;
VACUUM ANALYZE big_queries;
SQL
document big_targets big_queries
table_mib=$(psql_bench -c "SELECT pg_total_relation_size('big_targets') / 1048576")
postgis_time=$(best_of_3 "$bin/apps/selvane" select --map "$data/postgis-map.json" --layer2 targets \
  --relation INTERSECT --layer1 queries)
postgis_count=$(count_of)
exists_time=$(best_of_3 psql_bench -c "$(exists_sql big_targets big_queries intersects)")
exists_count=$(count_of)
[ "$postgis_count" = "$exists_count" ] || echo "MISMATCH on 10M points: selvane $postgis_count, PostGIS $exists_count"
peak=$(peak_mib "$bin/apps/selvane" select --map "$data/postgis-map.json" --layer2 targets --relation INTERSECT \
  --layer1 queries)
printf '%-7s %-10s %-13s %10s %9.3fs %9.3fs %8s %8s %11s\n' points INTERSECT "10kx$((points / 1000000))M" - \
  "$postgis_time" "$exists_time" - "$(ratio "$postgis_time" "$exists_time")" "$peak/-"
echo "the $((points / 1000000))M-point table takes $table_mib MiB in the server (with its indexes); selected: $postgis_count"
