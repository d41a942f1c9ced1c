#!/bin/sh
# update.exe must run on a bare Windows: it may import system DLLs only,
# and at load time only those the system never takes from elsewhere.
# (Wine ships DLLs such as zlib1.dll that Windows lacks, so running it
# under Wine would not show a stray dependency.)
# Usage: check-imports.sh OBJDUMP update.exe
set -e
dlls=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$dlls" ] || { echo "no imports found in $2" >&2; exit 1; }
bad=0
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll|advapi32.dll|msvcrt.dll) ;;
    # Delay-loaded: their imports must come from the system folder.
    user32.dll|comctl32.dll) echo "imported at load time: $dll (missing from app/$(echo "$dll" | tr 'A-Z' 'a-z' | sed 's/dll$/def/'))" >&2; bad=1 ;;
    *) echo "not a system DLL: $dll" >&2; bad=1 ;;
  esac
done
echo "imports:" $dlls
exit $bad
