#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the command-line app and the benchmarks
# need; with "desktop", also those of the Qt desktop, its tests and its screenshots; with
# "database", the PostgreSQL server and PostGIS that the database tests start; with
# "windows", mingw-w64, widl and Wine (32-bit through i386 multiarch) for Selvane.dll; with
# "fuzz", clang and libFuzzer for bench/fuzz.sh; with "engines", PostgreSQL and PostGIS
# for the benchmarks that compare engines; with "qgis", QGIS 3 and its headers (Qt 5) for
# the QGIS plugin and its tests; with "package", lintian for the Debian package.
# Idempotent: when all are installed it returns at once.
#
#   bash scripts/setup.sh [desktop|database|windows|fuzz|engines|qgis|package]...
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgeos-dev libgeos++-dev bc
  libgdal-dev gdal-bin libsqlite3-dev libpq-dev libpg-query-dev libroaring-dev
  libicu-dev
  nlohmann-json3-dev libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;  # libFuzzer comes with clang's runtime libraries
    database) packages+=(postgresql-15 postgresql-15-postgis-3 openssl) ;;
    # The other engines the benchmarks measure against: PostGIS and QGIS (qgis_process).
    engines) packages+=(postgresql-15 postgresql-15-postgis-3 time qgis) ;;
    windows) packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine wine64
                        wine32:i386 fonts-wine nsis) ;;
    qgis) packages+=(qgis libqgis-dev qtbase5-dev python3-qgis xvfb xauth) ;;
    package) packages+=(lintian) ;;
    # Liberation Sans stands in for MS Sans Serif; Xvfb gives the screenshots a real display.
    desktop) packages+=(qt6-base-dev fonts-liberation2 xvfb xauth) ;;
    *) echo "setup.sh: unknown group $group (desktop, database, windows, fuzz, engines, qgis or package)" >&2; exit 2 ;;
  esac
done

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
  # 32-bit Wine comes from Debian's i386 architecture.
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails the update now and then ("File has unexpected size");
  # try again, and if it still fails go on with the lists there are.
  prefer=()
  for attempt in 1 2 3 4; do
    if $sudo_cmd apt-get update -qq; then break; fi
    if [ "$attempt" -eq 4 ]; then
      # A list missing for one architecture only (the i386 security list, say) leaves the
      # two architectures of a shared library at different versions: the one installed
      # from the suite whose list is gone has no twin to match, and multiarch refuses
      # ("held broken packages"). The release's own suite has both, so for this install
      # its versions win, even where that takes an installed library back to them.
      codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
      if [ -n "$codename" ]; then
        pins=$(mktemp)
        trap 'rm -f "$pins"' EXIT
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$codename" > "$pins"
        chmod 644 "$pins"
        prefer=(-o "Dir::Etc::Preferences=$pins" --allow-downgrades --no-remove)
      fi
      echo "setup: apt-get update kept failing; installing from the lists there are${codename:+, with the versions of $codename itself first}" >&2
      break
    fi
    sleep $((attempt * 15))
  done
  # dpkg without a sync after every file: a fresh machine unpacks a few thousand files.
  $sudo_cmd apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${prefer[@]}" "${missing[@]}"
fi
