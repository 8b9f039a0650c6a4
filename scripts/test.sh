#!/usr/bin/env bash
# Sets up, builds from scratch with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh desktop
rm -rf build/ci
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
