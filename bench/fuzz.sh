#!/usr/bin/env bash
# Runs the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) for
# a given time each, all at once, starting from the seed corpus in tests/fuzz/corpus.
# New inputs go to build/fuzz/corpus/TARGET; a crash, a hang or a sanitizer report stops
# a target and leaves its input in build/fuzz/findings/TARGET.
#
#   bash bench/fuzz.sh [SECONDS]          (default 60 a target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh fuzz
cmake --preset fuzz > /dev/null
targets=(map_document layer_bytes geopackage_blob point_array server_ewkb definition_filter)
cmake --build --preset fuzz --target "${targets[@]/%/_fuzzer}"
status=0
pids=()
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    build/fuzz/tests/fuzz/${target}_fuzzer "$corpus" "tests/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=262144 \
      -artifact_prefix="$findings/" -print_final_stats=1 > "build/fuzz/$target.log" 2>&1 &
  pids+=($!)
done
for index in "${!pids[@]}"; do wait "${pids[$index]}" || status=1; done
for target in "${targets[@]}"; do
  echo "== $target"
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE|cov: " "build/fuzz/$target.log" | tail -3
  ls "build/fuzz/findings/$target" | sed 's/^/finding: /'
done
exit $status
