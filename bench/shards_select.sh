#!/usr/bin/env bash
# A table spread over shard servers (a partitioned table on a coordinator, its partitions
# foreign tables of postgres_fdw), measured: selvane searching each part on its own server,
# selvane reading the table through the coordinator, selvane on one server holding every
# row, and PostGIS's own single EXISTS query, through the coordinator and on the one server.
# Points on a square 100 km wide, or parcels (100 m squares of a grid, each shard holding
# every n-th one, as a hash of the id spreads them); query squares of 100 m made in the
# coordinator. Wall times are the best of three, warm (one run when it took over a minute);
# counts are checked against each other. A run over ten minutes is stopped and shown as such.
#
#   bash bench/shards_select.sh [SHARDS [ROWS_A_SHARD [QUERIES [points|parcels]]]]
#                                                         (default 3 1000000 10000 points)
set -euo pipefail
cd "$(dirname "$0")/.."
shards=${1:-3}
rows=${2:-1000000}
queries=${3:-10000}
kind=${4:-points}
source bench/scenarios.sh
bench_prepare selvane

state=$(mktemp -d "${TMPDIR:-/tmp}/selvane-shards-state.XXXXXX")
trap 'bash tests/postgis/shards.sh stop "$state/shards"; bash tests/postgis/cluster.sh stop "$state/coordinator"' EXIT
export SELVANE_PG_SERVER_OPTIONS="-c shared_buffers=512MB -c work_mem=128MB -c maintenance_work_mem=512MB"
bash tests/postgis/cluster.sh start "$state/coordinator"
bash tests/postgis/shards.sh start "$state/shards" "$shards"
coordinator=$(cat "$state/coordinator/conninfo")
on() { psql "$1" -v ON_ERROR_STOP=1 -At -q "${@:2}"; }
field() { tr ' ' '\n' <<< "$1" | sed -n "s/^$2=//p"; }

# Shard s holds the ids (s-1)*rows+1 .. s*rows; a parcel's place on the grid interleaves
# the shards, so that each covers the whole extent.
total=$(( shards * rows ))
width=$(echo "sqrt($total) + 1" | bc)
if [ "$kind" = parcels ]; then
  type=Polygon
  shape="ST_MakeEnvelope(c % $width * 100.0, c / $width * 100.0, c % $width * 100.0 + 100, c / $width * 100.0 + 100)"
  extent=$(( width * 100 ))
else
  type=Point
  shape="ST_MakePoint(random() * 100000, random() * 100000)"
  extent=100000
fi
on "$coordinator" -c "CREATE EXTENSION postgres_fdw" \
  -c "CREATE TABLE spread (fid bigint, geom geometry($type, 0)) PARTITION BY RANGE (fid)" \
  -c "CREATE TABLE whole (fid bigint PRIMARY KEY, geom geometry($type, 0))"
for shard in $(seq 1 "$shards"); do
  conninfo=$(cat "$state/shards/shard$shard/conninfo")
  first=$(( (shard - 1) * rows + 1 ))
  on "$conninfo" <<SQL
SELECT setseed(0.$shard);
CREATE TABLE part AS SELECT g::bigint AS fid, ST_SetSRID($shape, 0)::geometry($type, 0) AS geom
  FROM (SELECT g, (g - $first) * $shards + $(( shard - 1 )) AS c FROM generate_series($first, $(( first + rows - 1 ))) g) s;
ALTER TABLE part ADD PRIMARY KEY (fid);
CREATE INDEX ON part USING gist (geom);
VACUUM ANALYZE part;
SQL
  on "$coordinator" <<SQL
CREATE SERVER shard$shard FOREIGN DATA WRAPPER postgres_fdw
  OPTIONS (host '$(field "$conninfo" host)', port '$(field "$conninfo" port)', dbname 'selvane_test', use_remote_estimate 'true');
CREATE USER MAPPING FOR CURRENT_USER SERVER shard$shard OPTIONS (user 'selvane');
CREATE FOREIGN TABLE spread_$shard PARTITION OF spread FOR VALUES FROM ($first) TO ($(( first + rows )))
  SERVER shard$shard OPTIONS (schema_name 'public', table_name 'part', fetch_size '10000');
ANALYZE spread_$shard;
INSERT INTO whole SELECT * FROM spread_$shard;
SQL
done
on "$coordinator" <<SQL
SELECT setseed(0.42);
CREATE TABLE queries AS SELECT g AS fid,
  ST_SetSRID(ST_MakeEnvelope(x, y, x + 100, y + 100), 0)::geometry(Polygon, 0) AS geom
  FROM (SELECT g, random() * ($extent - 100) AS x, random() * ($extent - 100) AS y FROM generate_series(1, $queries) g) s;
ALTER TABLE queries ADD PRIMARY KEY (fid);
CREATE INDEX ON queries USING gist (geom);
CREATE INDEX ON whole USING gist (geom);
VACUUM ANALYZE queries;
VACUUM ANALYZE whole;
SQL
# $1: the table; $2: what the map says of it beyond its table.
document() {
  local file="$data/shards-map-$1${2:+-through}.json"
  cat > "$file" <<JSON
{"layers": [
  {"type": "feature", "name": "targets", "source": "PG:$coordinator", "table": "$1"${2:-}},
  {"type": "feature", "name": "queries", "source": "PG:$coordinator", "table": "queries"}]}
JSON
  echo "$file"
}
select_in() {
  timeout 600 "$bin/apps/selvane" select --map "$(document "$@")" --layer2 targets --relation INTERSECT --layer1 queries ||
    echo "Selection Count: stopped"
}
exists_in() {
  PGOPTIONS="-c statement_timeout=600s" on "$coordinator" -c "SELECT 'Selection Count: ' || count(*) FROM $1 t WHERE EXISTS \
    (SELECT 1 FROM queries q WHERE ST_Intersects(q.geom, t.geom))" || echo "Selection Count: stopped"
}
through=', "parts": "coordinator", "id_column": "fid"'

spread_time=$(best_of_3 select_in spread); spread_count=$(count_of)
split=$(cpu_split "$bin/apps/selvane" select --map "$(document spread)" --layer2 targets --relation INTERSECT --layer1 queries)
through_time=$(best_of_3 select_in spread "$through"); through_count=$(count_of)
whole_time=$(best_of_3 select_in whole); whole_count=$(count_of)
exists_spread_time=$(best_of_3 exists_in spread); exists_spread_count=$(count_of)
exists_whole_time=$(best_of_3 exists_in whole); exists_whole_count=$(count_of)
for other in "$through_count" "$whole_count" "$exists_spread_count" "$exists_whole_count"; do
  [ "$other" = "$spread_count" ] || echo "MISMATCH: spread $spread_count, another $other"
done
peak=$(peak_mib "$bin/apps/selvane" select --map "$(document spread)" --layer2 targets --relation INTERSECT --layer1 queries)
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
printf '%s queries x %s shards x %s %s (%s selected)\n' "$queries" "$shards" "$rows" "$kind" "$spread_count"
printf '  selvane, each part on its server  %8.3f s   peak %s MiB, CPU own/machine %s s\n' "$spread_time" "$peak" "$split"
printf '  selvane, through the coordinator  %8.3f s   (/ spread: %s)\n' "$through_time" "$(ratio "$through_time" "$spread_time")"
printf '  selvane, one server               %8.3f s   (spread / one: %s)\n' "$whole_time" "$(ratio "$spread_time" "$whole_time")"
printf '  PostGIS EXISTS, coordinator       %8.3f s   (/ spread: %s)\n' "$exists_spread_time" \
  "$(ratio "$exists_spread_time" "$spread_time")"
printf '  PostGIS EXISTS, one server        %8.3f s\n' "$exists_whole_time"
