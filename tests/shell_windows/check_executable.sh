#!/usr/bin/env bash
# The shipped Windows program: a 32-bit GUI executable that imports system
# DLLs only; the socket library is loaded at run time, never imported.
#   check_executable.sh EXE OBJDUMP
set -uo pipefail
exe=$1
objdump=${2:-i686-w64-mingw32-objdump}
status=0

kind=$(file -b "$exe")
if [[ $kind == "PE32 executable (GUI) Intel 80386"* ]]; then
  echo "ok: $kind"
else
  echo "FAILED: file says: $kind"
  status=1
fi

imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $imports)"
system='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|MSVCRT|COMCTL32|SHLWAPI|UUID)\.DLL$'
while read -r dll; do
  [[ -z $dll ]] && continue
  upper=$(echo "$dll" | tr '[:lower:]' '[:upper:]')
  if [[ $upper == WS2_32.DLL ]]; then
    echo "FAILED: WS2_32.DLL is imported; it must be loaded at run time"
    status=1
  elif ! [[ $upper =~ $system ]]; then
    echo "FAILED: $dll is not a system DLL"
    status=1
  fi
done <<< "$imports"
exit $status
