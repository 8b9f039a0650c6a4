#!/usr/bin/env bash
# Times the whole `selvane select` process (load, index, dialog, run, output) against a
# bare GEOS program doing the same selection on the same GeoPackage, and prints the ratios.
#
#   bash bench/compare_select.sh [--quick]     (--quick: the 10k × 100k rows only)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release > /dev/null
cmake --build --preset release > /dev/null
bin=build/release
data=${TMPDIR:-/tmp}/selvane-bench
mkdir -p "$data"

# kind relation predicate queries targets targets-per-query
rows=("points INTERSECT intersects 10000 100000 10" "lines CROSS crosses 10000 100000 10"
      "cells TOUCH touches 10000 100000 10")
if [ "${1:-}" != "--quick" ]; then
  rows+=("points INTERSECT intersects 100000 1000000 10" "lines CROSS crosses 100000 1000000 10"
         "cells TOUCH touches 100000 1000000 10"
         # few large queries: a hundred polygons of ten thousand targets each
         "points INTERSECT intersects 100 1000000 10000" "cells TOUCH touches 100 1000000 10000")
fi

now() { date +%s.%N; }
best_of_3() {  # prints the best wall time of three runs of "$@" (output to /dev/null)
  local best=""
  for _ in 1 2 3; do
    local start end took
    start=$(now); "$@" > "$data/last.out"; end=$(now)
    took=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$took < $best" | bc -l)" = 1 ]; then best=$took; fi
  done
  echo "$best"
}

printf '%-8s %-10s %-18s %10s %10s %7s %12s\n' targets relation size selvane bare_geos ratio selected
for row in "${rows[@]}"; do
  read -r kind relation predicate queries targets per_query <<< "$row"
  file="$data/${kind}-${queries}-${targets}-${per_query}.gpkg"
  [ -f "$file" ] || "$bin/bench/make_bench_data" "$file" "$queries" "$targets" "$kind" "$per_query"
  selvane_time=$(best_of_3 "$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)
  selvane_count=$(tail -n 1 "$data/last.out")
  bare_time=$(best_of_3 "$bin/bench/bare_geos_select" "$file" "$predicate")
  bare_count=$(tail -n 1 "$data/last.out")
  [ "$selvane_count" = "$bare_count" ] || echo "MISMATCH: selvane '$selvane_count', bare GEOS '$bare_count'"
  printf '%-8s %-10s %-18s %9.3fs %9.3fs %7.2f %12s\n' "$kind" "$relation" "${queries}x${targets}" \
    "$selvane_time" "$bare_time" "$(echo "$selvane_time / $bare_time" | bc -l)" "${selvane_count#Selection Count: }"
done
