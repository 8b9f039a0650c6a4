#!/usr/bin/env bash
# Sets up, builds the optimised apps and runs the main job on the sample map: the
# Spatial Selection command selecting the parcels that the roads cross.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release > /dev/null
cmake --build --preset release
selvane=build/release/apps/selvane

echo "== The layer pickers list:"
"$selvane" layers
echo "== Select all features in layer Parcels, whose features CROSS, features in layer Roads:"
"$selvane" select --layer2 Parcels --relation CROSS --layer1 Roads --ids "$@"
