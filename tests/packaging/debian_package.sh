#!/usr/bin/env bash
# The Debian package of a build of the package preset: made with cpack, free of lintian
# errors, unpacked into a temporary root whose `selvane` selects on the packaged sample map
# what the build's own selects on the source tree's; and, only when run as root, installed
# with apt-get, run from /usr/bin and removed without a trace.
#
#   debian_package.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
source_tree=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
version=$(sed -n 's/^project(selvane VERSION \([0-9.]*\).*/\1/p' "$source_tree/CMakeLists.txt")
deb="$build/selvane_${version}_amd64.deb"
[ -f "$deb" ] || { echo "FAIL no $deb"; exit 1; }
echo "ok   made $(basename "$deb")"

if lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1; then
  echo "ok   lintian: no errors ($(grep -c '^W:' "$work/lintian.log" || true) warnings)"
else
  cat "$work/lintian.log"; fail "lintian reports errors"
fi

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/selvane ./usr/bin/selvane-map ./usr/lib/qgis/plugins/libselvaneplugin.so \
            ./usr/share/selvane/sample/town.json ./usr/share/applications/selvane-map.desktop \
            ./usr/share/icons/hicolor/256x256/apps/selvane.png ./usr/share/man/man1/selvane.1.gz \
            ./usr/share/doc/selvane/copyright; do
  grep -qx "$file" <<< "$contents" || fail "the package has no $file"
done
# Under QGIS's folders, the plugin alone.
[ "$(grep -c '^./usr/lib/qgis/.*[^/]$' <<< "$contents")" = 1 ] || fail "the package puts more than the plugin under QGIS's folders"

# Unpacked: the packaged program on the packaged sample map, without --map.
root="$work/root"
dpkg-deb -x "$deb" "$root"
picks=(--layer2 Parcels --relation CROSS --layer1 Roads --ids)
want=$("$build/apps/selvane" select --map "$source_tree/data/sample/town.json" "${picks[@]}" --quiet)
got=$("$root/usr/bin/selvane" select "${picks[@]}" --quiet)
[ "$got" = "$want" ] && echo "ok   unpacked selvane on its own sample: $(tail -1 <<< "$got")" || fail "unpacked selvane gave '$got', want '$want'"
# It is the packaged sample that was read: without its raster the map no longer opens.
rm "$root/usr/share/selvane/sample/imagery.tif"
if "$root/usr/bin/selvane" select "${picks[@]}" --quiet > "$work/out" 2>&1; then
  fail "unpacked selvane read a sample map other than the packaged one"
else
  grep -q "$root/usr/share/selvane/sample" "$work/out" && echo "ok   the packaged sample map is the one read" ||
    fail "the missing raster was not named: $(cat "$work/out")"
fi

# Installed and removed, where the test may change the system.
if [ "$(id -u)" -eq 0 ] && ! dpkg -s selvane > /dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get cannot install the package"; }
  [ "$(/usr/bin/selvane --version)" = "selvane $version" ] && echo "ok   installed: $(/usr/bin/selvane --version)" ||
    fail "/usr/bin/selvane --version: $(/usr/bin/selvane --version 2>&1)"
  /usr/bin/selvane select "${picks[@]}" --quiet > /dev/null || fail "the installed selvane cannot select on its sample"
  DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq selvane > "$work/apt.log" 2>&1 || fail "apt-get cannot remove it"
  if dpkg -L selvane > /dev/null 2>&1 || [ -e /usr/share/selvane ] || [ -e /usr/bin/selvane ] ||
     [ -e /usr/lib/qgis/plugins/libselvaneplugin.so ]; then
    fail "removing the package left files behind"
  else
    echo "ok   removed without a trace"
  fi
fi
exit $((failures > 0))
