#!/usr/bin/env bash
# A table spread over three PostGIS servers (a partitioned table on a coordinator, its
# partitions foreign tables of postgres_fdw), measured: selvane's search of each part on
# its own server against selvane on one server holding every row, and against PostGIS's
# own single EXISTS query, through the coordinator and on the one server. Points on a
# 100 km square, queried by squares of 100 m made in the coordinator. Wall times are the
# best of three, warm; counts are checked against each other.
#
#   bash bench/shards_select.sh [POINTS_A_SHARD [QUERIES]]     (default 1000000 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
points=${1:-1000000}
queries=${2:-10000}
source bench/scenarios.sh
bench_prepare selvane

state=$(mktemp -d "${TMPDIR:-/tmp}/selvane-shards-state.XXXXXX")
trap 'bash tests/postgis/shards.sh stop "$state/shards"; bash tests/postgis/cluster.sh stop "$state/coordinator"' EXIT
export SELVANE_PG_SERVER_OPTIONS="-c shared_buffers=512MB -c work_mem=128MB -c maintenance_work_mem=512MB"
bash tests/postgis/cluster.sh start "$state/coordinator"
bash tests/postgis/shards.sh start "$state/shards"
coordinator=$(cat "$state/coordinator/conninfo")
on() { psql "$1" -v ON_ERROR_STOP=1 -At -q "${@:2}"; }
field() { tr ' ' '\n' <<< "$1" | sed -n "s/^$2=//p"; }

on "$coordinator" -c "CREATE EXTENSION postgres_fdw" -c "CREATE TABLE spread (fid bigint, geom geometry(Point, 0)) PARTITION BY RANGE (fid)"
for shard in 1 2 3; do
  conninfo=$(cat "$state/shards/shard$shard/conninfo")
  first=$(( (shard - 1) * points + 1 ))
  on "$conninfo" <<SQL
SELECT setseed(0.$shard);
CREATE TABLE part AS SELECT g::bigint AS fid,
  ST_SetSRID(ST_MakePoint(random() * 100000, random() * 100000), 0)::geometry(Point, 0) AS geom
  FROM generate_series($first, $(( first + points - 1 ))) g;
ALTER TABLE part ADD PRIMARY KEY (fid);
CREATE INDEX ON part USING gist (geom);
VACUUM ANALYZE part;
SQL
  on "$coordinator" <<SQL
CREATE SERVER shard$shard FOREIGN DATA WRAPPER postgres_fdw
  OPTIONS (host '$(field "$conninfo" host)', port '$(field "$conninfo" port)', dbname 'selvane_test', use_remote_estimate 'true');
CREATE USER MAPPING FOR CURRENT_USER SERVER shard$shard OPTIONS (user 'selvane');
CREATE FOREIGN TABLE spread_$shard PARTITION OF spread FOR VALUES FROM ($first) TO ($(( first + points )))
  SERVER shard$shard OPTIONS (schema_name 'public', table_name 'part');
SQL
done
on "$coordinator" <<SQL
SELECT setseed(0.42);
CREATE TABLE queries AS SELECT g AS fid,
  ST_SetSRID(ST_MakeEnvelope(x, y, x + 100, y + 100), 0)::geometry(Polygon, 0) AS geom
  FROM (SELECT g, random() * 99900 AS x, random() * 99900 AS y FROM generate_series(1, $queries) g) s;
ALTER TABLE queries ADD PRIMARY KEY (fid);
CREATE INDEX ON queries USING gist (geom);
CREATE TABLE whole AS SELECT * FROM spread;
ALTER TABLE whole ADD PRIMARY KEY (fid);
CREATE INDEX ON whole USING gist (geom);
VACUUM ANALYZE queries;
VACUUM ANALYZE whole;
SQL
document() {
  cat > "$data/shards-map-$1.json" <<JSON
{"layers": [
  {"type": "feature", "name": "targets", "source": "PG:$coordinator", "table": "$1"},
  {"type": "feature", "name": "queries", "source": "PG:$coordinator", "table": "queries"}]}
JSON
  echo "$data/shards-map-$1.json"
}
select_in() { "$bin/apps/selvane" select --map "$(document "$1")" --layer2 targets --relation INTERSECT --layer1 queries; }
exists_in() {
  PGOPTIONS="-c statement_timeout=600s" on "$coordinator" -c "SELECT 'Selection Count: ' || count(*) FROM $1 t WHERE EXISTS \
    (SELECT 1 FROM queries q WHERE ST_Intersects(q.geom, t.geom))"
}

spread_time=$(best_of_3 select_in spread); spread_count=$(count_of)
whole_time=$(best_of_3 select_in whole); whole_count=$(count_of)
exists_spread_time=$(best_of_3 exists_in spread); exists_spread_count=$(count_of)
exists_whole_time=$(best_of_3 exists_in whole); exists_whole_count=$(count_of)
for other in "$whole_count" "$exists_spread_count" "$exists_whole_count"; do
  [ "$other" = "$spread_count" ] || echo "MISMATCH: spread $spread_count, another $other"
done
peak=$(peak_mib "$bin/apps/selvane" select --map "$data/shards-map-spread.json" --layer2 targets --relation INTERSECT \
  --layer1 queries)
printf '%s queries x 3 x %s points (%s)\n' "$queries" "$points" "$spread_count"
printf '  selvane, 3 servers at once   %8.3f s   peak %s MiB\n' "$spread_time" "$peak"
printf '  selvane, one server          %8.3f s   (spread / one: %.2f)\n' "$whole_time" "$(echo "$spread_time / $whole_time" | bc -l)"
printf '  PostGIS EXISTS, coordinator  %8.3f s   (/ selvane spread: %.1f)\n' "$exists_spread_time" \
  "$(echo "$exists_spread_time / $spread_time" | bc -l)"
printf '  PostGIS EXISTS, one server   %8.3f s\n' "$exists_whole_time"
