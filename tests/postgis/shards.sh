#!/usr/bin/env bash
# Starts or stops the three shard servers of the tests of tables spread over servers: each
# a cluster of cluster.sh, in STATE/shard1 to STATE/shard3, started at once. The database
# tests' own server is their coordinator.
#
#   bash tests/postgis/shards.sh start|stop STATE
set -euo pipefail
action=$1
state=$2
here=$(dirname "$0")

case "$action" in
  start)
    mkdir -p "$state"
    pids=()
    for shard in 1 2 3; do
      bash "$here/cluster.sh" start "$state/shard$shard" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid"; done
    ;;
  stop)
    for shard in 1 2 3; do bash "$here/cluster.sh" stop "$state/shard$shard"; done
    rm -rf "$state"
    ;;
  *) echo "usage: shards.sh start|stop STATE" >&2; exit 2 ;;
esac
