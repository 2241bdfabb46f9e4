#!/usr/bin/env bash
# The QGIS host's figures of docs/performance.md: the sample layout over generated coverage
# layers of 100 and 1,000 sheets (scripts/make_big_atlas.sh), Release build.
#   - peak memory of crvanchor-qgis at 100 and 1,000 pages, no output and --pdf;
#   - anchoring's own cost a placement: crvanchor-qgis at 1,000 pages without output, over the
#     project and over the same project without its records;
#   - CPU time, side by side in one run at 1,000 pages: QGIS's own atlas export of the project
#     with its records removed (scripts/qgis_atlas_export.py), crvanchor-qgis --pdf, and
#     crvanchor-qgis --pdf over that same project without records (nothing anchored), ROUNDS
#     rounds taken in turn, medians shown.
# Usage: scripts/qgis_perf.sh [BUILD_DIR [ROUNDS]]   (scratch files in out/perf/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
rounds=${2:-3}
command="$PWD/$build/crvanchor-qgis"
[ -x "$command" ] || { echo "qgis_perf.sh: build crvcore in $build first (crvanchor-qgis is made beside it)" >&2; exit 2; }
python=
for p in ${PYTHON:-} python3 /usr/bin/python3; do
  if "$p" -c 'import qgis.core' 2>/dev/null; then python=$p; break; fi
done
[ -n "$python" ] || { echo "qgis_perf.sh: no python3 with PyQGIS (install python3-qgis)" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
layout="Lakes Atlas"
scratch=out/perf/qgis
mkdir -p "$scratch"

for n in 100 1000; do
  dir=out/perf/atlas-$n
  [ -f "$dir/lakes_atlas.qgz" ] && [ "$dir/lakes_atlas.qgz" -nt samples/lakes_atlas.qgz ] ||
    bash scripts/make_big_atlas.sh "$n" "$dir" >/dev/null
  [ -f "$dir/plain.qgz" ] && [ "$dir/plain.qgz" -nt "$dir/lakes_atlas.qgz" ] ||
    "$python" scripts/qgis_atlas_export.py "$dir/lakes_atlas.qgz" "$layout" --save "$dir/plain.qgz" >/dev/null 2>&1
done

# Runs a command under /usr/bin/time: its CPU seconds (user and system) in $cpu, its peak
# resident memory in $peak (KiB), its output in $scratch/stdout.txt.
measure() {
  /usr/bin/time -f '%U %S %M' -o "$scratch/time.txt" "$@" >"$scratch/stdout.txt" 2>"$scratch/stderr.txt" ||
    { cat "$scratch/stderr.txt" >&2; exit 1; }
  read -r cpu peak < <(awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$scratch/time.txt")
}

echo "== crvanchor-qgis: peak memory by the number of pages =="
declare -A peaks
for n in 100 1000; do
  measure "$command" "out/perf/atlas-$n/lakes_atlas.qgz" --layout "$layout"
  peaks[none-$n]=$peak
  measure "$command" "out/perf/atlas-$n/lakes_atlas.qgz" --layout "$layout" --pdf "$scratch/atlas.pdf"
  peaks[pdf-$n]=$peak
  printf '%5d pages: no output %8d KiB   --pdf %8d KiB\n' "$n" "${peaks[none-$n]}" "${peaks[pdf-$n]}"
done
awk -v a="${peaks[none-1000]}" -v b="${peaks[none-100]}" -v c="${peaks[pdf-1000]}" -v d="${peaks[pdf-100]}" \
  'BEGIN { printf "ratio 1,000 / 100 pages: no output %.2f   --pdf %.2f\n", a / b, c / d }'

echo "== anchoring alone at 1,000 pages, no output =="
dir=out/perf/atlas-1000
measure "$command" "$dir/lakes_atlas.qgz" --layout "$layout"
with=$cpu
placements=$(sed -n 's/.*: \([0-9]*\) pages, \([0-9]*\) anchored elements/\1 * \2/p' "$scratch/stdout.txt")
measure "$command" "$dir/plain.qgz" --layout "$layout"
without=$cpu
awk -v a="$with" -v b="$without" -v n="$((placements))" 'BEGIN {
  printf "with records %.2f s, without %.2f s: %.0f us a placement over %d placements\n", a, b, (a - b) * 1e6 / n, n }'
measure "$python" -c 'from qgis.core import QgsApplication as A; a = A([], False); a.initQgis(); a.exitQgis()'
echo "PyQGIS started and stopped alone: $cpu s"

echo "== CPU time at 1,000 pages, $rounds rounds side by side =="
: >"$scratch/cpu.txt"
for ((r = 1; r <= rounds; r++)); do
  measure "$python" scripts/qgis_atlas_export.py "$dir/lakes_atlas.qgz" "$layout" "$scratch/qgis.pdf"
  qgis=$cpu qgis_peak=$peak
  measure "$command" "$dir/lakes_atlas.qgz" --layout "$layout" --pdf "$scratch/atlas.pdf"
  crv=$cpu
  measure "$command" "$dir/plain.qgz" --layout "$layout" --pdf "$scratch/plain.pdf"
  plain=$cpu
  echo "$qgis $crv $plain" | tee -a "$scratch/cpu.txt" |
    awk -v r="$r" '{ printf "round %d: QGIS export %.2f s   crvanchor-qgis --pdf %.2f s   without records %.2f s\n", r, $1, $2, $3 }'
done
echo "QGIS's own export peaks at ${qgis_peak} KiB"
python3 - "$scratch/cpu.txt" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1]) if line.strip()]
qgis, crv, plain = (statistics.median(column) for column in zip(*rows))
print("median CPU: QGIS export %.2f s, crvanchor-qgis --pdf %.2f s, without records %.2f s" % (qgis, crv, plain))
print("crvanchor-qgis --pdf against QGIS's own export: %+.1f%%    anchoring alone (with records - without): %+.1f%% of QGIS's export"
      % (100 * (crv / qgis - 1), 100 * (crv - plain) / qgis))
PY
