#!/usr/bin/env bash
# Selvane.dll exports exactly DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
# DllUnregisterServer, by their plain names (no stdcall decoration on 32-bit).
#   check_exports.sh OBJDUMP Selvane.dll
set -euo pipefail
names=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[ *[0-9]+\]' |
  sed 's/.*\] //' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
if [ "$names" != "$expected" ]; then
  echo "exports: '$names', expected '$expected'" >&2
  exit 1
fi
echo "exports: $names"
