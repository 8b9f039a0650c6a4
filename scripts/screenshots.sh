#!/usr/bin/env bash
# Runs the desktop under Xvfb and saves the README's screenshots in docs/: the main window
# after a selection on the sample map with the dialog beside it, the dialog, the help window;
# then QGIS with the plugin's selection and dialog; then the Win32 dialog of Selvane.dll
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh desktop
cmake --preset release > /dev/null
cmake --build --preset release --target desktop_screenshots
xvfb-run --auto-servernum --server-args="-screen 0 1400x800x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb build/release/tools/desktop_screenshots docs

# QGIS after Parcels INTERSECT Roads, the dialog over its map: the plugin from the package
# build, on a copy of the sample map (QGIS writes beside the files it opens).
bash scripts/setup.sh qgis
cmake --preset package > /dev/null
cmake --build --preset package
work=$(mktemp -d)
mkdir -p "$work/profiles/default/QGIS"
printf '[Plugins]\nlibselvaneplugin=true\n\n[plugins]\nsearchPathsForPlugins=%s\n' "$PWD/build/package/qgis-plugins" \
  > "$work/profiles/default/QGIS/QGIS3.ini"
cp -r data/sample "$work/sample"
QT_QPA_PLATFORM=offscreen /usr/bin/python3 tests/qgis/make_project.py "$work/sample" "$work/town.qgs" 2> /dev/null
SELVANE_PICKS="Parcels|INTERSECT|Roads" SELVANE_RESULT="$work/result.json" SELVANE_SCREENSHOT="$PWD/docs/qgis_selection.png" \
  QT_QPA_PLATFORM=xcb timeout -k 10 120 xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" qgis --profiles-path "$work" \
  --nologo --noversioncheck --code tests/qgis/press_select.py --project "$work/town.qgs" > /dev/null 2>&1 || true
rm -rf "$work"

# The Win32 dialog: Selvane.dll in the Windows test host under Wine, after the same kind of
# run (parcels that hold wells), then with the relationships dropped open, and a help
# window, drawn by Wine's X11 driver on Xvfb.
bash scripts/setup.sh windows
cmake --preset win64 > /dev/null
cmake --build --preset win64
prefix=build/win64/screenshot-prefix
rm -rf "$prefix"
mkdir -p "$prefix/drive_c/Selvane"
bash tests/windows/wine_fonts.sh "$prefix"
cp build/win64/host/com/Selvane.dll build/win64/apps/windows_test_host/windows_test_host.exe "$prefix/drive_c/Selvane/"
WINEPREFIX="$PWD/$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" \
  xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" bash -c '
    wine wineboot -i > /dev/null 2>&1
    wine regsvr32 /s "C:\Selvane\Selvane.dll"
    wine "C:\Selvane\windows_test_host.exe" "C:\Selvane\Selvane.dll" --picture "C:\Selvane\dialog.png" > /dev/null
    wineserver -k'
cp "$prefix/drive_c/Selvane/dialog.png" docs/dialog_win32.png
cp "$prefix/drive_c/Selvane/dialog_dropped.png" docs/dialog_win32_dropped.png
cp "$prefix/drive_c/Selvane/dialog_help.png" docs/help_win32.png
