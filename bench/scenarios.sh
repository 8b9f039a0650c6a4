# The benchmark scenarios and timing helpers, sourced by the comparison scripts.
# Needs $data (the folder of the generated GeoPackages).

# The engines installed and `$@` built in the release preset, in $bin; the data folder made.
bench_prepare() {
  bash scripts/setup.sh engines
  cmake --preset release > /dev/null
  cmake --build --preset release --target "$@" > /dev/null
  bin=build/release
  data=${TMPDIR:-/tmp}/selvane-bench
  mkdir -p "$data"
}

# kind relation predicate queries targets targets-per-query; --quick: the 10k × 100k rows;
# --large: the few large queries only; --huge: 100k queries over 10M points
bench_rows() {
  if [ "${1:-}" = "--huge" ]; then rows=("points INTERSECT intersects 100000 10000000 10"); return; fi
  local large=("points INTERSECT intersects 100 1000000 10000" "lines CROSS crosses 100 1000000 10000"
               "cells TOUCH touches 100 1000000 10000" "shifted-cells OVERLAP overlaps 100 1000000 10000")
  if [ "${1:-}" = "--large" ]; then rows=("${large[@]}"); return; fi
  rows=("points INTERSECT intersects 10000 100000 10" "lines CROSS crosses 10000 100000 10"
        "cells TOUCH touches 10000 100000 10")
  if [ "${1:-}" != "--quick" ]; then
    rows+=("points INTERSECT intersects 100000 1000000 10" "lines CROSS crosses 100000 1000000 10"
           "cells TOUCH touches 100000 1000000 10"
           # few large queries: a hundred districts of ten thousand targets each
           "${large[@]}")
  fi
}

now() { date +%s.%N; }

best_of_3() {  # the best wall time of three runs of "$@" (one when it took over a minute), the output in $data/last.out
  local best=""
  for _ in 1 2 3; do
    local start end took
    start=$(now); "$@" > "$data/last.out"; end=$(now)
    took=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$took < $best" | bc -l)" = 1 ]; then best=$took; fi
    [ "$(echo "$took > 60" | bc -l)" = 0 ] || break
  done
  echo "$best"
}

peak_mib() {  # the peak resident memory of one run of "$@", in MiB
  /usr/bin/time -f "%M" -o "$data/peak" "$@" > /dev/null
  echo $(( $(cat "$data/peak") / 1024 ))
}

count_of() {  # the count the last run printed
  tail -n 1 "$data/last.out" | sed 's/^Selection Count: //'
}

cpu_split() {  # the CPU seconds of one run of "$@": its own, then the whole machine's (a server's included)
  local before after a b c d e f user system
  read -r _ a b c _ _ d e f _ < /proc/stat; before=$((a + b + c + d + e + f))
  /usr/bin/time -f "%U %S" -o "$data/cpu" "$@" > "$data/last.out"
  read -r _ a b c _ _ d e f _ < /proc/stat; after=$((a + b + c + d + e + f))
  read -r user system < <(tail -n 1 "$data/cpu")
  printf '%.2f/%.2f' "$(echo "$user + $system" | bc -l)" "$(echo "($after - $before) / $(getconf CLK_TCK)" | bc -l)"
}
