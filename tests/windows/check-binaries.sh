#!/usr/bin/env bash
# Checks the Windows build's binaries with objdump:
# - velnor.def lists every function velnor.h declares;
# - velnor.dll exports exactly the names of velnor.def, none decorated;
# - every program and DLL imports only Windows' own DLLs and ours.
#   check-binaries.sh OBJDUMP BIN_DIR DEF_FILE HEADER
set -euo pipefail
objdump=$1 bin=$2 def=$3 header=$4
status=0

expected=$(sed -n 's/^  \([a-z_]*\)$/\1/p' "$def" | sort)
declared=$(sed -n 's/^VELNOR_API .*VELNOR_CALL \([a-z_]*\)(.*/\1/p' "$header" | sort)
if [ "$declared" != "$expected" ]; then
  echo "velnor.def differs from the functions velnor.h declares:"
  diff <(echo "$declared") <(echo "$expected") || true
  status=1
fi
exported=$("$objdump" -p "$bin/velnor.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
if [ "$exported" != "$expected" ]; then
  echo "velnor.dll exports differ from velnor.def:"
  diff <(echo "$expected") <(echo "$exported") || true
  status=1
fi

allowed='^(kernel32|advapi32|user32|gdi32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]*|velnor|velnor_bench)\.dll$'
for file in "$bin"/*.exe "$bin"/*.dll; do
  while read -r dll; do
    if ! [[ ${dll,,} =~ $allowed ]]; then
      echo "$(basename "$file") needs $dll"
      status=1
    fi
  done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
[ $status -eq 0 ] && echo "exports and imports as expected"
exit $status
