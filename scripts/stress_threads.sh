#!/usr/bin/env bash
# Repeats the suites that start threads (the rows answered ahead, the searches spread over
# the cores, a scan's searches of a layer answered ahead, a GeoPackage table read in
# slices and its rows parsed on every core, a class's rows walked and its index of points
# built on every core, the runs that use them, a database table read into memory and its
# scan's batches answered ahead) until one fails,
# on a machine loaded with a busy process on each core, so that the threads
# interleave as they would on a loaded desktop. Run it before changing a concurrent path.
#
#   bash scripts/stress_threads.sh [REPEATS] [PRESET]     (default 200 repeats, preset ci;
#                                                          tsan for ThreadSanitizer)
# BUSY=N sets the number of busy processes (default: one a core; 0 when something else
# already loads the machine).
set -euo pipefail
cd "$(dirname "$0")/.."
repeats=${1:-200}
preset=${2:-ci}
concurrent='^(MemorySearchAhead\.|SelectionRun|SpatialSearch\.(ALargeSearch|AClassWalks|SearchesOfAScans|ScanSearchesOfEverySize)|GeoPackageReader\.|RowIndex\.|PostgisSearch\.ATableReadIntoMemory)'

bash scripts/setup.sh
[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset"

# A busy process a core, stopped however this script ends.
busy=()
stop_busy() { for pid in "${busy[@]}"; do kill "$pid" 2> /dev/null || true; done; }
trap stop_busy EXIT
for _ in $(seq "${BUSY:-$(nproc)}"); do
  (while :; do :; done) &
  busy+=($!)
done

echo "stress: ${#busy[@]} busy processes; $repeats repeats of the concurrent suites ($preset)"
started=$(date +%s)
runner=(ctest)
[ "$preset" = tsan ] && runner=(setarch "$(uname -m)" -R ctest)
"${runner[@]}" --preset "$preset" -R "$concurrent" --repeat "until-fail:$repeats" --output-on-failure
echo "stress: $repeats repeats passed under load in $(( $(date +%s) - started )) s"
