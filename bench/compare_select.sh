#!/usr/bin/env bash
# Times the whole `selvane select` process (load, index, dialog, run, output) against a
# bare GEOS program doing the same selection on the same GeoPackage, and prints the ratios:
# best of three on both cores, and selvane again on one (`taskset -c 0`: less work, not only
# more cores), with the peak memory of each program.
#
#   bash bench/compare_select.sh [--quick|--large|--huge]     (as bench/compare_engines.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release > /dev/null
cmake --build --preset release > /dev/null
bin=build/release
data=${TMPDIR:-/tmp}/selvane-bench
mkdir -p "$data"

source bench/scenarios.sh
bench_rows "${1:-}"

printf '%-13s %-10s %-18s %10s %10s %10s %7s %7s %11s %12s\n' targets relation size selvane "1 core" bare_geos \
  ratio "1c/bare" "MiB s/b" selected
for row in "${rows[@]}"; do
  read -r kind relation predicate queries targets per_query <<< "$row"
  file="$data/${kind}-${queries}-${targets}-${per_query}.gpkg"
  [ -f "$file" ] || "$bin/bench/make_bench_data" "$file" "$queries" "$targets" "$kind" "$per_query"
  selvane=("$bin/apps/selvane" select --map "$file" --layer2 targets --relation "$relation" --layer1 queries)
  selvane_time=$(best_of_3 "${selvane[@]}")
  selvane_count=$(count_of)
  one_core_time=$(best_of_3 taskset -c 0 "${selvane[@]}")
  bare_time=$(best_of_3 "$bin/bench/bare_geos_select" "$file" "$predicate")
  bare_count=$(count_of)
  [ "$selvane_count" = "$bare_count" ] || echo "MISMATCH: selvane '$selvane_count', bare GEOS '$bare_count'"
  memory="$(peak_mib "${selvane[@]}")/$(peak_mib "$bin/bench/bare_geos_select" "$file" "$predicate")"
  printf '%-13s %-10s %-18s %9.3fs %9.3fs %9.3fs %7.2f %7.2f %11s %12s\n' "$kind" "$relation" "${queries}x${targets}" \
    "$selvane_time" "$one_core_time" "$bare_time" "$(echo "$selvane_time / $bare_time" | bc -l)" \
    "$(echo "$one_core_time / $bare_time" | bc -l)" "$memory" "$selvane_count"
done
