#!/usr/bin/env bash
# The real QGIS under Xvfb, with a throw-away profile that enables the Selvane plugin from
# the build, on a project of the sample map: a script presses the toolbar button, picks,
# presses "Select Features" and writes QGIS's selected ids and the dialog's count, which
# must be the command line's for the same picks; and QGIS must quit as it quits without the
# plugin.
#
#   qgis_end_to_end.sh PLUGIN_FOLDER SELVANE_BINARY SAMPLE_FOLDER
set -euo pipefail
plugins=$(cd "$1" && pwd) selvane=$2 sample=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# QGIS opens plugins as local libraries, where a sanitizer's runtime can neither come first
# nor look up the plugin's types: the plugin tested here is built without sanitizers.
if ldd "$plugins/libselvaneplugin.so" | grep -E 'libasan|libtsan' >/dev/null; then
  echo "qgis_end_to_end.sh: $plugins/libselvaneplugin.so is built with a sanitizer; use the package preset" >&2
  exit 2
fi
export QT_QPA_PLATFORM=xcb
# A profile that looks for plugin libraries in the build too, with the plugin enabled.
mkdir -p "$work/profiles/default/QGIS"
printf '[Plugins]\nlibselvaneplugin=true\n\n[plugins]\nsearchPathsForPlugins=%s\n' "$plugins" \
  > "$work/profiles/default/QGIS/QGIS3.ini"
# QGIS opens GeoPackages for writing and leaves statistics beside rasters: it gets a copy
# of the sample, never the source tree's.
cp -r "$sample" "$work/sample"
QT_QPA_PLATFORM=offscreen /usr/bin/python3 "$here/make_project.py" "$work/sample" "$work/town.qgs" 2>/dev/null 

failures=0
while IFS='|' read -r layer2 relation layer1 removed; do
  result="$work/result.json"
  rm -f "$result"
  status=0
  SELVANE_PICKS="$layer2|$relation|$layer1${removed:+|$removed}" SELVANE_RESULT=$result \
    timeout -k 10 120 xvfb-run -a -s "-screen 0 1280x1024x24" qgis --profiles-path "$work" --nologo \
      --noversioncheck --code "$here/press_select.py" --project "$work/town.qgs" >"$work/qgis.log" 2>&1 || status=$?
  # QGIS must quit as it quits without the plugin: a crash prints its stack in the log.
  if [ "$status" != 0 ]; then
    echo "FAIL $layer2 $relation $layer1 $removed: QGIS ended with status $status"
    grep -E '^#[0-9]+ ' "$work/qgis.log" | head -12 || tail -20 "$work/qgis.log"; failures=$((failures + 1)); continue
  fi
  if [ ! -s "$result" ]; then
    echo "FAIL $layer2 $relation $layer1: QGIS wrote no result"; tail -20 "$work/qgis.log"; failures=$((failures + 1)); continue
  fi
  got=$(/usr/bin/python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); print(r.get("error") or " ".join(map(str, [r["count"]] + r["ids"])) + ("".join(" | " + b for b in r["boxes"])))' "$result")
  fonts=$(/usr/bin/python3 -c 'import json,sys; print("; ".join(json.load(open(sys.argv[1])).get("font_faults", [])))' "$result")
  if [ -n "$fonts" ]; then
    echo "FAIL $layer2 $relation $layer1: the dialog's fonts are not the design's inside QGIS: $fonts"; failures=$((failures + 1))
  fi
  if [ -n "$removed" ]; then
    # Layer 2 removed while the dialog was open: the run says so and selects nothing.
    want="0 | Can't find layer: $layer2"
  else
    want=$("$selvane" select --map "$sample/town.json" --layer2 "$layer2" --relation "$relation" --layer1 "$layer1" \
      --format json --quiet | python3 -c 'import json,sys; r=json.load(sys.stdin); print(" ".join(map(str, [r["count"]] + r["ids"])))')
  fi
  if [ "$got" = "$want" ]; then
    echo "ok   $layer2 $relation $layer1 $removed: $got"
  else
    echo "FAIL $layer2 $relation $layer1 $removed: QGIS gave '$got', the command line '$want'"; failures=$((failures + 1))
  fi
done <<'PICKS'
Parcels|INTERSECT|Roads
Old Parcels|TOUCH|Parcels
Buildings|ARE WHOLLY CONTAINED BY|Old Parcels
Parcels|INTERSECT|Roads|removed
PICKS
exit $((failures > 0))
