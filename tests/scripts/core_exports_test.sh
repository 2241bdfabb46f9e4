#!/usr/bin/env bash
# The portable core exports the functions its C header declares and nothing else, and needs
# no library of QGIS, of a UI toolkit, of GIS data access or of our own runtime: on Linux only
# the C and C++ runtimes, on Windows only the system's own DLLs.
# Usage: core_exports_test.sh LIBRARY HEADER
set -euo pipefail
lib=$1 header=$2
failed=0
bad() { echo "$*" >&2 && failed=1; }
declared=$(grep -o 'crv_[a-z_]*(' "$header" | tr -d '(' | sort -u)
[ -n "$declared" ] || bad "no function declared in $header"
if [[ $lib == *.dll ]]; then
  dump=$(x86_64-w64-mingw32-objdump -p "$lib")
  # The export table's rows: "[ordinal] name" after "[Ordinal/Name Pointer] Table".
  exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[ \t]*\[/ { print $NF; next } on { on = 0 }' \
    <<<"$dump" | sort -u)
  needed=$(awk '/DLL Name:/ { print $3 }' <<<"$dump")
  allowed='^(KERNEL32|USER32|msvcrt|ADVAPI32|ucrtbase|api-ms-win-.*)\.dll$'
else
  exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ { print $3 }' | sed 's/@.*//' | sort -u)
  needed=$(objdump -p "$lib" | awk '$1 == "NEEDED" { print $2 }')
  allowed='^(libc|libm|libgcc_s|libstdc\+\+|libasan|libubsan)\.so\.[0-9]+$|^ld-linux.*\.so\.[0-9]+$'
fi
[ "$exported" = "$declared" ] ||
  bad "exported and declared differ:"$'\n'"$(diff <(echo "$declared") <(echo "$exported") || true)"
while read -r library; do
  [[ $library =~ $allowed ]] || bad "needs $library"
done <<<"$needed"
[ $failed -eq 0 ] && echo "exports $(wc -w <<<"$exported") functions, all declared; needs only: $(tr '\n' ' ' <<<"$needed")"
exit $failed
