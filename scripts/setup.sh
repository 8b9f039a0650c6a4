#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the command-line app and the benchmarks
# need; with "desktop", also those of the Qt desktop, its tests and its screenshots; with
# "fuzz", clang and libFuzzer for bench/fuzz.sh; with "engines", PostgreSQL and PostGIS
# for bench/compare_engines.sh.
# Idempotent: when all are installed it returns at once.
#
#   bash scripts/setup.sh [desktop|fuzz|engines]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgeos-dev libgeos++-dev bc
  libgdal-dev gdal-bin libsqlite3-dev libpq-dev libroaring-dev
  libicu-dev
  nlohmann-json3-dev libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)
if [ "${1:-}" = "fuzz" ]; then
  # libFuzzer comes with clang's runtime libraries.
  packages+=(clang libclang-rt-14-dev)
fi
if [ "${1:-}" = "engines" ]; then
  # The other engines bench/compare_engines.sh measures against (QGIS only where installed).
  packages+=(postgresql-15 postgresql-15-postgis-3 time)
fi
if [ "${1:-}" = "desktop" ]; then
  # Liberation Sans stands in for MS Sans Serif; Xvfb gives the screenshots a real display.
  packages+=(qt6-base-dev fonts-liberation2 xvfb xauth)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
