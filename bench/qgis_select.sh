#!/usr/bin/env bash
# Selvane inside QGIS against QGIS's own Select by Location (native:selectbylocation), in
# one QGIS process on the same GeoPackage layers, for points INTERSECT, lines CROSS and
# cells TOUCH: both wall times, the ratio, and whether the two selected the same ids.
#
#   bash bench/qgis_select.sh [--large]   (default: 10k queries × 100k targets; --large: 100k × 1M)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh qgis
cmake --preset release > /dev/null
cmake --build --preset release --target qgis_select_bench make_bench_data > /dev/null
bin=build/release/bench
data=${TMPDIR:-/tmp}/selvane-bench
mkdir -p "$data"
size="10000 100000"
[ "${1:-}" != "--large" ] || size="100000 1000000"
read -r queries targets <<< "$size"
for row in "points INTERSECT" "lines CROSS" "cells TOUCH"; do
  read -r kind relation <<< "$row"
  file="$data/${kind}-${queries}-${targets}-10.gpkg"
  [ -f "$file" ] || "$bin/make_bench_data" "$file" "$queries" "$targets" "$kind" 10 > /dev/null
  "$bin/qgis_select_bench" "$file" "$relation" 2> /dev/null
done
