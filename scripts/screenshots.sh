#!/usr/bin/env bash
# Runs the desktop under Xvfb and saves the README's screenshots in docs/: the main window
# after a selection on the sample map with the dialog beside it, the dialog, the help window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh desktop
cmake --preset release > /dev/null
cmake --build --preset release --target desktop_screenshots
xvfb-run --auto-servernum --server-args="-screen 0 1400x800x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb build/release/tools/desktop_screenshots docs
