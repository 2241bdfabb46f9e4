#!/usr/bin/env bash
# Instructions per placement against the floor, counted by callgrind: repeatable on a loaded
# machine where wall-clock times are not. Usage: scripts/engine_ratio.sh [BUILD_DIR]
set -euo pipefail
bench="${1:-build-rel}/crv_bench"
if ! command -v valgrind >/dev/null; then
    echo "valgrind not found: instruction counts skipped"
    exit 0
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Instructions spent inside the given functions per call of the first one, while running
# the benchmarks that FILTER selects.
per_call() {
    local filter=$1 out="$scratch/out.$RANDOM"
    shift
    local toggles=()
    for f in "$@"; do toggles+=(--toggle-collect="$f"); done
    valgrind --tool=callgrind --callgrind-out-file="$out" "${toggles[@]}" \
        "$bench" --benchmark_filter="$filter" --benchmark_min_time=0.2 >/dev/null 2>&1
    callgrind_annotate --inclusive=yes --tree=caller "$out" 2>/dev/null | python3 -c '
import re, sys
first = sys.argv[1]
total, calls, callers = 0, 0, []
for line in sys.stdin:
    if "PROGRAM TOTALS" in line:
        total = int(line.split()[0].replace(",", ""))
    elif re.search(r"^\s*[\d,]+ .*\s< ", line):
        callers.append(line)
    elif "*  " in line and first in line and not calls:
        calls = sum(int(re.search(r"\(([\d,]+)x\)", c).group(1).replace(",", "")) for c in callers)
    elif not line.strip():
        callers = []
print(total / calls if calls else 0)
' "$1"
}

engine=$(per_call 'BM_AnchorElement/100$' 'crv::CRVAnchorManager::AnchorElement(int const&)')
floor=$(per_call 'BM_HostMoveUpdateRedraw' 'crv::standalone::ElementImpl::Move(double, double)' \
    'crv::standalone::ContainerImpl::UpdateElement(crv::ComPtr<crv::LayoutElement> const&)' \
    'crv::standalone::LayoutViewImpl::PartialRefresh(int, crv::ComPtr<crv::Unknown> const&, crv::ComPtr<crv::Envelope> const&)')
awk -v e="$engine" -v f="$floor" 'BEGIN {
    printf "%-58s %8.0f\n", "AnchorElement, 100-page series, instructions per call:", e
    printf "%-58s %8.0f\n", "host move+update+redraw, instructions per placement:", f
    printf "%-58s %8.2f\n", "AnchorElement over the floor, by instructions:", e / f
}'
