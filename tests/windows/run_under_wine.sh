#!/usr/bin/env bash
# Registers Selvane.dll with regsvr32 in a fresh Wine prefix of one architecture, checks
# the registry, runs the test host's checks, unregisters the server and checks that the
# class is gone. Wine runs headless with its null graphics driver; the prefix's
# wineserver is stopped at the end, also on failure.
#   run_under_wine.sh win32|win64 FOLDER Selvane.dll windows_test_host.exe
set -euo pipefail
architecture=$1
folder=$2
dll=$3
host=$4

source "$(dirname "$0")/wine_prefix.sh" "$architecture" "$folder/prefix-$architecture"

# The server and the host side by side in the prefix, as an installation would have them.
mkdir -p "$WINEPREFIX/drive_c/Selvane"
cp "$dll" "$host" "$WINEPREFIX/drive_c/Selvane/"
server='C:\Selvane\Selvane.dll'
test_host='C:\Selvane\windows_test_host.exe'
class_key='HKCR\CLSID\{6B1F4A52-3C8D-4E27-9A61-0D2E5F7B8C34}'

# The registry as a process of this architecture sees it (a 64-bit prefix's reg.exe may be
# the 32-bit one, which sees another CLSID branch).
view=$([ "$architecture" = win64 ] && echo /reg:64 || echo /reg:32)
registry_has() { "$wine" reg query "$1" ${2:+/v "$2"} "$view" 2> /dev/null | tr -d '\r' | grep -q "${3:-.}"; }
registry_lacks() { ! "$wine" reg query "$1" "$view" > /dev/null 2>&1; }

check "regsvr32 registers the server" "$wine" regsvr32 /s "$server"
check "regsvr32 registers it again" "$wine" regsvr32 /s "$server"
check "the class is in process, in its file" registry_has "$class_key\\InprocServer32" "" 'Selvane.dll'
check "the class is apartment-threaded" registry_has "$class_key\\InprocServer32" ThreadingModel Apartment
check "the ProgID names the class" registry_has 'HKCR\Tollamar.Selvane\CLSID' "" '6B1F4A52'
check "the type library Tollamar 1.0 is registered" \
  registry_has 'HKCR\TypeLib\{0E8D3B71-92A6-4C5F-B148-E3F27A9D6C05}\1.0' "" 'Selvane'
check "no component category is written" registry_lacks "$class_key\\Implemented Categories"
check "the test host's checks pass" "$wine" "$test_host" "$server"
# A client that the project did not write: Wine's cscript runs a VBScript that creates the
# class by its ProgID, asks its type name (from the type information behind IDispatch) and
# lets it go.
printf 'Set command = CreateObject("Tollamar.Selvane")\r\nWScript.Echo TypeName(command)\r\nSet command = Nothing\r\nWScript.Echo "released"\r\n' \
  > "$WINEPREFIX/drive_c/Selvane/client.vbs"
# A program named without a path starts under the 32-bit loader; the 64-bit prefix's own
# cscript needs the 64-bit one, which Debian keeps off the PATH.
script_loader=$wine
[ "$architecture" = win64 ] && [ "$wine" = wine ] && [ -x /usr/lib/wine/wine64 ] && script_loader=/usr/lib/wine/wine64
script_says() { [ "$("$script_loader" cscript //nologo 'C:\Selvane\client.vbs' 2> /dev/null | tr -d '\r' | tr '\n' ' ')" = "$1" ]; }
check "a VBScript creates Tollamar.Selvane by its ProgID, names its type _Selvane and releases it" \
  script_says "_Selvane released "
# The server's file moved after registration: creating the class fails, and so does
# registering a file that is not there.
mv "$WINEPREFIX/drive_c/Selvane/Selvane.dll" "$WINEPREFIX/drive_c/Selvane/Moved.dll"
check "a moved server cannot be created" "$wine" "$test_host" --moved
check "regsvr32 of a file that is not there fails" fails "$wine" regsvr32 /s "$server"
mv "$WINEPREFIX/drive_c/Selvane/Moved.dll" "$WINEPREFIX/drive_c/Selvane/Selvane.dll"
check "regsvr32 /u unregisters the server" "$wine" regsvr32 /s /u "$server"
check "the class is gone" registry_lacks "$class_key"
check "the ProgID is gone" registry_lacks 'HKCR\Tollamar.Selvane'
check "the type library is gone" registry_lacks 'HKCR\TypeLib\{0E8D3B71-92A6-4C5F-B148-E3F27A9D6C05}'
check "unregistering again is no failure" "$wine" regsvr32 /s /u "$server"
check "the test host finds no class" "$wine" "$test_host" --unregistered
exit $failures
