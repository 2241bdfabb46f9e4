#!/usr/bin/env bash
# The portable core exports the functions its C header declares and nothing else, and needs
# no library of QGIS, of a UI toolkit, of GIS data access or of our own runtime.
# Usage: core_exports_test.sh LIBRARY HEADER
set -euo pipefail
lib=$1 header=$2
failed=0
bad() { echo "$*" >&2 && failed=1; }
declared=$(grep -o 'crv_[a-z_]*(' "$header" | tr -d '(' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ { print $3 }' | sed 's/@.*//' | sort -u)
[ -n "$declared" ] || bad "no function declared in $header"
[ "$exported" = "$declared" ] ||
  bad "exported and declared differ:"$'\n'"$(diff <(echo "$declared") <(echo "$exported") || true)"
needed=$(objdump -p "$lib" | awk '$1 == "NEEDED" { print $2 }')
while read -r library; do
  case $library in
    libc.so.* | libm.so.* | ld-linux*.so.* | libgcc_s.so.* | libstdc++.so.* | libasan.so.* | libubsan.so.*) ;;
    *) bad "needs $library" ;;
  esac
done <<<"$needed"
[ $failed -eq 0 ] && echo "exports $(wc -w <<<"$exported") functions, all declared; needs only: $(tr '\n' ' ' <<<"$needed")"
exit $failed
