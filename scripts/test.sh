#!/usr/bin/env bash
# Sets up, builds from scratch with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors) and runs every test. ctest starts a private PostgreSQL server for
# the database tests (unix socket only, in a temporary folder) and stops it at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh desktop database
rm -rf build/ci
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
