# A fresh Wine prefix of one architecture, headless (the null graphics driver), whose
# wineserver is stopped when the sourcing script exits, also on failure; and the check
# helper that counts failures. Sourced by the Wine tests:
#   source wine_prefix.sh ARCHITECTURE PREFIX_FOLDER
# sets WINEPREFIX, WINEARCH and wine (the loader of the prefix's architecture).
export WINEARCH=$1
export WINEPREFIX=$(realpath -m "$2")  # Wine takes only an absolute prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
wine=wine
[ "$WINEARCH" = win64 ] && command -v wine64 > /dev/null && wine=wine64

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
trap 'wineserver -k > /dev/null 2>&1 || true' EXIT
"$wine" wineboot -i > /dev/null 2>&1 || { echo "wineboot could not make a prefix in $WINEPREFIX" >&2; exit 1; }
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
wineserver -w
bash "$(dirname "${BASH_SOURCE[0]}")/wine_fonts.sh" "$WINEPREFIX"

failures=0
check() {  # check DESCRIPTION COMMAND...: runs COMMAND, reports, counts a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
fails() { ! "$@"; }
