#!/usr/bin/env bash
# Reproduces every figure of docs/performance.md: the engine benchmarks, the peak-memory runs,
# the peak memory of a book of 1,000, 10,000 and 100,000 pages, the map-book command on the
# sample and on a generated 10,000-page book, anchoring alone and anchoring plus rendering, a
# wide layout of 5,000 anchored elements (benchmarks and both commands), heavy QGIS projects
# (50,000 crvanchor/ keys on an item, a group of 300 anchored members) and crvanchor-qgis
# against QGIS's own atlas export (scripts/qgis_perf.sh) when QGIS is there, and last the
# engine/floor ratio beside anchoring's share of the rendered book. Release build in build-rel/,
# scratch files in out/perf/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRV_BUILD_TESTS=OFF >/dev/null
targets=(crv_bench crv_memory crv_book_bench crvanchor crvinstall CRVAnchor)
if [ -x build-rel/crvanchor-qgis ]; then targets+=(crvcore); fi
cmake --build build-rel -j"$(nproc)" --target "${targets[@]}"
mkdir -p out/perf
export CRVANCHOR_REGISTRY="$PWD/out/perf/registry.db"
./build-rel/crvinstall build-rel/libCRVAnchor.so >/dev/null

echo "== engine benchmarks =="
./build-rel/crv_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out=out/perf/engine.json --benchmark_out_format=json
echo "== engine against the floor, by instructions =="
bash scripts/engine_ratio.sh build-rel
echo "== peak memory over long runs =="
for n in 100000 1000000; do ./build-rel/crv_memory anchor "$n"; done
for n in 100 1000; do QT_QPA_PLATFORM=offscreen ./build-rel/crv_memory page "$n" 2>/dev/null; done
echo "== peak memory of a book by its length (report written page by page) =="
for n in 1000 10000 100000; do
  [ -f "out/perf/big-$n/sheets.gpkg" ] || bash scripts/make_big_book.sh "$n" "out/perf/big-$n" >/dev/null
  ./build-rel/crv_memory load "out/perf/big-$n/book.json"
  ./build-rel/crv_memory book "out/perf/big-$n/book.json" --report out/perf/report.json | tail -n 1
done
echo "== map-book command =="
big=out/perf/big-10000/book.json
for doc in samples/lakes_atlas.json "$big"; do
  ./build-rel/crvanchor book "$doc" --timing
  ./build-rel/crvanchor book "$doc" --timing --pdf out/perf/book.pdf | tee out/perf/timing.txt
done
echo "== a wide layout: 5,000 anchored elements =="
./build-rel/crv_book_bench --benchmark_filter=WideLayout --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
wide=out/perf/wide-5000/wide.json
[ -f "$wide" ] || python3 scripts/make_wide_layout.py 5000 out/perf/wide-5000 >/dev/null
TIMEFORMAT="crvanchor show, 5,000 elements: %R s"
time ./build-rel/crvanchor show "$wide" >/dev/null
./build-rel/crvanchor book "$wide" --report out/perf/wide-report.json --timing 2>/dev/null | grep timing
echo "== QGIS: 50,000 crvanchor/ keys on an item; a group of 300 anchored members =="
python=
for p in python3 /usr/bin/python3; do
  if "$p" -c 'import qgis.core' 2>/dev/null; then python=$p; break; fi
done
if [ -n "$python" ] && [ -x build-rel/crvanchor-qgis ]; then
  [ -f out/perf/qgis/keys.qgz ] || "$python" scripts/make_qgis_load.py keys 50000 out/perf/qgis/keys.qgz >/dev/null
  [ -f out/perf/qgis/group.qgz ] || "$python" scripts/make_qgis_load.py group 300 out/perf/qgis/group.qgz >/dev/null
  TIMEFORMAT="crvanchor-qgis show, 50,000 keys: %R s"
  time QT_QPA_PLATFORM=offscreen ./build-rel/crvanchor-qgis show out/perf/qgis/keys.qgz --layout "Lakes Atlas" >/dev/null
  TIMEFORMAT="crvanchor-qgis, pages 1-2, 300 anchored members of a group: %R s"
  time QT_QPA_PLATFORM=offscreen ./build-rel/crvanchor-qgis out/perf/qgis/group.qgz --layout "Lakes Atlas" \
    --pages 1-2 >/dev/null 2>&1
else
  echo "(no QGIS: skipped)"
fi
# The QGIS host, where QGIS is installed: memory by the number of pages, and crvanchor-qgis --pdf
# against QGIS's own export of the same atlas.
if [ -x build-rel/crvanchor-qgis ]; then
  echo "== crvanchor-qgis against QGIS's own atlas export =="
  cmake --build build-rel -j"$(nproc)" --target crvcore >/dev/null
  bash scripts/qgis_perf.sh build-rel
fi
echo "== side by side: the engine against the floor, and anchoring's share of a rendered book =="
ratio=$(python3 -c '
import json, sys
runs = {b["run_name"]: b["cpu_time"] for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "mean"}
print("%.1f" % (runs["BM_AnchorElement/100"] / runs["BM_HostMoveUpdateRedraw"]))' out/perf/engine.json)
share=$(sed -n 's/.*anchoring is \([0-9.]*%\) of the run.*/\1/p' out/perf/timing.txt)
echo "AnchorElement (100-page series) / floor: ${ratio} x    anchoring's share of the rendered 10,000-page book: ${share}"
