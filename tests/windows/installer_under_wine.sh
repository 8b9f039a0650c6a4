#!/usr/bin/env bash
# Installs Selvane with its installer, silently, in a fresh Wine prefix of one
# architecture; checks the files, the class and ProgID in each registry view the machine
# has, the "Apps & features" entry, and that a script creates Tollamar.Selvane in each
# architecture; uninstalls silently and checks that nothing is left. The prefix's
# wineserver is stopped at the end, also on failure.
#   installer_under_wine.sh win32|win64 FOLDER Selvane-VERSION-setup.exe
set -euo pipefail
architecture=$1
folder=$2
setup=$3
# The version the entry must show: the project's.
version=$(sed -n 's/^project(selvane VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

source "$(dirname "$0")/wine_prefix.sh" "$architecture" "$folder/installer-$architecture"
drive="$WINEPREFIX/drive_c"
class_key='HKCR\CLSID\{6B1F4A52-3C8D-4E27-9A61-0D2E5F7B8C34}'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tollamar.Selvane'
if [ "$architecture" = win64 ]; then
  views=(/reg:32 /reg:64)
  folder32="$drive/Program Files (x86)/Tollamar"
  folder64="$drive/Program Files/Tollamar"
  uninstaller='C:\Program Files (x86)\Tollamar\Selvane\uninstall.exe'
else
  views=(/reg:32)
  folder32="$drive/Program Files/Tollamar"
  folder64=""
  uninstaller='C:\Program Files\Tollamar\Selvane\uninstall.exe'
fi
registry_has() { "$wine" reg query "$1" ${3:+/v "$3"} "$2" 2> /dev/null | tr -d '\r' | grep -q "${4:-.}"; }
registry_lacks() { ! "$wine" reg query "$1" "$2" > /dev/null 2>&1; }
# A VBScript that creates the class by its ProgID, in the architecture of the cscript that runs it.
printf 'Set command = CreateObject("Tollamar.Selvane")\r\nWScript.Echo TypeName(command)\r\n' > "$drive/client.vbs"
script_says() {  # script_says LOADER EXPECTED
  [ "$("$1" cscript //nologo 'C:\client.vbs' 2> /dev/null | tr -d '\r' | tr '\n' ' ')" = "$2" ]
}
loader32=wine
loader64=$wine
[ "$architecture" = win64 ] && [ "$wine" = wine ] && [ -x /usr/lib/wine/wine64 ] && loader64=/usr/lib/wine/wine64

install_silently() { "$wine" "$(winepath -w "$setup" 2> /dev/null || echo "$setup")" /S && wineserver -w; }
check "the installer runs silently" install_silently
check "the 32-bit server is in the 32-bit Program Files" test -f "$folder32/Selvane/Selvane.dll"
check "the uninstaller is beside it" test -f "$folder32/Selvane/uninstall.exe"
if [ -n "$folder64" ]; then
  check "the 64-bit server is in the 64-bit Program Files" test -f "$folder64/Selvane/Selvane.dll"
  check "the two servers are of their architectures" \
    sh -c "objdump -f '$folder32/Selvane/Selvane.dll' | grep -q pei-i386 && objdump -f '$folder64/Selvane/Selvane.dll' | grep -q pei-x86-64"
fi
for view in "${views[@]}"; do
  expected=$([ "$view" = /reg:64 ] && echo 'C:\\Program Files\\Tollamar' || echo "Tollamar")
  check "the class is registered in view $view, in that architecture's file" \
    registry_has "$class_key\\InprocServer32" "$view" "" "$expected"
  check "the ProgID names the class in view $view" registry_has 'HKCR\Tollamar.Selvane\CLSID' "$view" "" '6B1F4A52'
done
check "the 32-bit view's class is the 32-bit file" \
  registry_has "$class_key\\InprocServer32" /reg:32 "" "$([ "$architecture" = win64 ] && echo 'Program Files (x86)' || echo 'Program Files')"
check "Apps & features lists Selvane $version" registry_has "$uninstall_key" /reg:32 DisplayVersion "$version"
check "with its publisher" registry_has "$uninstall_key" /reg:32 Publisher Tollamar
check "with its size" registry_has "$uninstall_key" /reg:32 EstimatedSize 0x
check "and a silent uninstall" registry_has "$uninstall_key" /reg:32 QuietUninstallString '/S'
check "a 32-bit script creates Tollamar.Selvane" script_says "$loader32" "_Selvane "
[ "$architecture" != win64 ] || check "a 64-bit script creates Tollamar.Selvane" script_says "$loader64" "_Selvane "

uninstall_silently() { "$wine" "$uninstaller" /S && wineserver -w; }
check "the uninstaller runs silently" uninstall_silently
check "no file is left in the 32-bit Program Files" fails test -e "$folder32"
[ -z "$folder64" ] || check "no file is left in the 64-bit Program Files" fails test -e "$folder64"
for view in "${views[@]}"; do
  check "the class is gone from view $view" registry_lacks "$class_key" "$view"
  check "the ProgID is gone from view $view" registry_lacks 'HKCR\Tollamar.Selvane' "$view"
  check "the type library is gone from view $view" registry_lacks 'HKCR\TypeLib\{0E8D3B71-92A6-4C5F-B148-E3F27A9D6C05}' "$view"
done
check "the Apps & features entry is gone" registry_lacks "$uninstall_key" /reg:32
check "no script creates Tollamar.Selvane any more" fails script_says "$loader32" "_Selvane "

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
