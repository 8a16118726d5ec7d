#!/bin/sh
# check_dll.sh DLL...: each PellarLib.dll exports exactly the four entry
# points, undecorated, and imports only system DLLs (it is linked
# statically, so no MinGW runtime DLL may be needed beside it).
status=0
for dll in "$@"; do
  # This objdump reads 32-bit and 64-bit PE files alike.
  dump=$(x86_64-w64-mingw32-objdump -p "$dll") ||
    { echo "$dll: cannot read"; status=1; continue; }
  exports=$(printf '%s\n' "$dump" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ')
  expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
  if [ "$exports" != "$expected" ]; then
    echo "$dll: exports [$exports], expected [$expected]"
    status=1
  fi
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
  for import in $imports; do
    case "$import" in
      KERNEL32.DLL|MSVCRT.DLL|OLE32.DLL|OLEAUT32.DLL|ADVAPI32.DLL|USER32.DLL) ;;
      *) echo "$dll: imports $import, which is not a system DLL"; status=1 ;;
    esac
  done
  echo "$dll: exports $exports; imports $imports"
done
exit $status
