#!/usr/bin/env bash
# The selection run through the desktop (bar shown, map redrawn) against the same run
# headless, and the canvas's time to draw the whole map, on the benchmark GeoPackages.
#
#   bash bench/desktop_select.sh [--quick]     (--quick: 10k x 100k only)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh desktop
cmake --preset release > /dev/null
cmake --build --preset release --target desktop_select_bench make_bench_data > /dev/null
data=${TMPDIR:-/tmp}/selvane-bench
mkdir -p "$data"
sizes=("10000 100000")
[ "${1:-}" = "--quick" ] || sizes+=("100000 1000000")
for size in "${sizes[@]}"; do
  set -- $size
  file="$data/points-$1-$2-10.gpkg"
  [ -f "$file" ] || build/release/bench/make_bench_data "$file" "$1" "$2" points 10
  xvfb-run --auto-servernum --server-args="-screen 0 1400x900x24 -dpi 96" \
    env QT_QPA_PLATFORM=xcb build/release/bench/desktop_select_bench "$file" INTERSECT
done
