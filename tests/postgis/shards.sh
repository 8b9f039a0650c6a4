#!/usr/bin/env bash
# Starts or stops the shard servers of the tests of tables spread over servers (three, or
# COUNT): each a cluster of cluster.sh, in STATE/shard1, STATE/shard2, ..., started at once.
# The database tests' own server is their coordinator.
#
#   bash tests/postgis/shards.sh start|stop STATE [COUNT]
set -euo pipefail
action=$1
state=$2
count=${3:-3}
here=$(dirname "$0")

case "$action" in
  start)
    mkdir -p "$state"
    pids=()
    for shard in $(seq 1 "$count"); do
      bash "$here/cluster.sh" start "$state/shard$shard" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid"; done
    ;;
  stop)
    for folder in "$state"/shard*; do
      if [ -d "$folder" ]; then bash "$here/cluster.sh" stop "$folder"; fi
    done
    rm -rf "$state"
    ;;
  *) echo "usage: shards.sh start|stop STATE [COUNT]" >&2; exit 2 ;;
esac
