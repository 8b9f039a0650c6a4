#!/usr/bin/env bash
# Runs the desktop under Xvfb and saves the README's screenshots in docs/: the main window
# after a selection on the sample map with the dialog beside it, the dialog, the help window;
# then the Win32 dialog of Selvane.dll under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh desktop
cmake --preset release > /dev/null
cmake --build --preset release --target desktop_screenshots
xvfb-run --auto-servernum --server-args="-screen 0 1400x800x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb build/release/tools/desktop_screenshots docs

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
