#!/usr/bin/env bash
# An executable that imports only Windows' own DLLs, and no bigger than it should be.
#   check_imports.sh OBJDUMP EXE MAX_BYTES
set -euo pipefail
objdump=$1 exe=$2 max=$3
allowed='^(kernel32|user32|gdi32|comctl32|advapi32|shell32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
status=0
while read -r dll; do
  if [[ ${dll,,} =~ $allowed ]]; then echo "ok: $dll"; else echo "FAILED: imports $dll"; status=1; fi
done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
size=$(stat -c %s "$exe")
echo "size: $size bytes"
[[ $size -le $max ]] || { echo "FAILED: larger than $max bytes"; status=1; }
exit $status
