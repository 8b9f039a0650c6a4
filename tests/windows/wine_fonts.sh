#!/usr/bin/env bash
# Puts Wine's own fonts (Debian's fonts-wine: MS Sans Serif, Tahoma, Marlett, ...) into a
# prefix's C:\windows\Fonts, where a Windows machine has them. Debian's Wine does not read
# them from /usr/share/wine/fonts, and without them "MS Sans Serif" falls back to a
# TrueType face whose small bold is hardly bolder than its regular.
#   wine_fonts.sh PREFIX_FOLDER
set -euo pipefail
fonts=/usr/share/wine/fonts
[ -d "$fonts" ] || { echo "Wine's fonts are not in $fonts (Debian package fonts-wine)" >&2; exit 1; }
mkdir -p "$1/drive_c/windows/Fonts"
cp "$fonts"/*.fon "$fonts"/*.ttf "$1/drive_c/windows/Fonts/"
