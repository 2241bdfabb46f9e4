#!/usr/bin/env bash
# The COM boundary's generated wrappers include the host's headers by their names in host/,
# wherever the checkout lies: also in a folder whose own name ends in "host".
# Usage: boundary_includes_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work/wt-host/host"
cp "$src"/host/*.h "$work/wt-host/host/"
python3 "$src/windows/boundary/gen_boundary.py" "$src/registration/CRVAnchor.typelib.json" "$src/host/categories.tsv" \
  "$work/CRVAnchor.idl" "$work/Boundary.h" "$work/Boundary.cpp" "$work"/wt-host/host/*.h
includes=$(sed -n 's/^#include "\(host\/[^"]*\)"$/\1/p' "$work/Boundary.cpp")
[ -n "$includes" ] || { echo "the wrappers include no host header" >&2; exit 1; }
for h in $includes; do
  [ -f "$src/$h" ] || { echo "the wrappers include $h, which is not in the sources" >&2; exit 1; }
done
