#!/usr/bin/env bash
# Builds Selvane-<version>-setup.exe from the 32- and 64-bit Selvane.dll with makensis
# (Debian's nsis). The version is the project's, from CMakeLists.txt, as everywhere else.
#   build_installer.sh OUTPUT_FOLDER SERVER32.dll SERVER64.dll   (prints the installer's path)
set -euo pipefail
out=$1
server32=$(realpath "$2")
server64=$(realpath "$3")
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^project(selvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "build_installer.sh: no version in $root/CMakeLists.txt" >&2; exit 1; }
mkdir -p "$out"
setup="$(realpath "$out")/Selvane-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DSERVER32="$server32" -DSERVER64="$server64" -DOUTPUT="$setup" \
  "$root/packaging/windows/selvane.nsi" >&2
echo "$setup"
