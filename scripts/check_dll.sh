#!/usr/bin/env bash
# Checks the Windows module as a modeller would load it: a DLL that exports
# _mod_descrip, its version text and the clock only, and needs no DLL but
# the system's own.
# Usage: scripts/check_dll.sh [build/windows/bin/varlobooks.dll]
set -euo pipefail
dll=${1:-build/windows/bin/varlobooks.dll}
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/\]/ && !/Table/ {print $NF}' | sort | tr '\n' ' ')
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | sort -u | tr '\n' ' ')
echo "$dll exports: $exports"
echo "$dll imports: $imports"
[[ $exports == "_mod_descrip _mod_set_clock _mod_version " ]] || { echo "unexpected exports" >&2; exit 1; }
for dll_name in $imports; do
  case ${dll_name,,} in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
    *) echo "needs $dll_name beside it" >&2; exit 1 ;;
  esac
done
