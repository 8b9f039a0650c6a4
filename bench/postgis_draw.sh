#!/usr/bin/env bash
# The desktop's canvas drawing a PostGIS table of 10M points at its full extent, against the
# same points in a GeoPackage held in memory.
#
#   bash bench/postgis_draw.sh [ROWS]     (default 10000000)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-10000000}
source bench/scenarios.sh
bench_prepare map_draw_bench

state=$(mktemp -d "${TMPDIR:-/tmp}/selvane-pg-state.XXXXXX")
trap 'bash tests/postgis/cluster.sh stop "$state"' EXIT
SELVANE_PG_SERVER_OPTIONS="-c shared_buffers=1GB -c work_mem=256MB -c maintenance_work_mem=1GB" \
  bash tests/postgis/cluster.sh start "$state"
conninfo=$(cat "$state/conninfo")
psql "$conninfo" -v ON_ERROR_STOP=1 -q <<SQL
CREATE TABLE points AS
  SELECT g AS fid, ST_SetSRID(ST_MakePoint(random() * 100000, random() * 100000), 3857)::geometry(Point, 3857) AS geom
  FROM generate_series(1, $rows) g;
ALTER TABLE points ADD PRIMARY KEY (fid);
CREATE INDEX ON points USING gist (geom);
VACUUM ANALYZE points;
SQL
cat > "$data/postgis-draw.json" <<JSON
{"layers": [{"type": "feature", "name": "points", "source": "PG:$conninfo", "table": "points"}]}
JSON
echo "== $rows points in PostGIS"
"$bin/bench/map_draw_bench" "$data/postgis-draw.json"
