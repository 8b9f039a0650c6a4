#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the tests, the apps and the benchmarks
# need. Idempotent: when all are installed it returns at once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgeos-dev libgeos++-dev bc
  libgdal-dev gdal-bin
  libicu-dev
  nlohmann-json3-dev libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)

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
