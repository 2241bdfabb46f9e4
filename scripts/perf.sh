#!/usr/bin/env bash
# Reproduces every figure of docs/performance.md: the engine benchmarks, the peak-memory runs,
# the peak memory of a book of 1,000, 10,000 and 100,000 pages, the map-book command on the
# sample and on a generated 10,000-page book, anchoring alone and anchoring plus rendering,
# crvanchor-qgis against QGIS's own atlas export (scripts/qgis_perf.sh, where QGIS is
# installed), and last the engine/floor ratio beside anchoring's share of the rendered book.
# Release build in build-rel/, scratch files in out/perf/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRV_BUILD_TESTS=OFF >/dev/null
cmake --build build-rel -j"$(nproc)" --target crv_bench crv_memory crv_book_bench crvanchor crvinstall CRVAnchor
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
# The QGIS host, where QGIS is installed: memory by the number of pages, and crvanchor-qgis --pdf
# against QGIS's own export of the same atlas.
if grep -q 'build crvanchor-qgis:' build-rel/build.ninja; then
  echo "== crvanchor-qgis against QGIS's own atlas export =="
  cmake --build build-rel -j"$(nproc)" --target crvanchor-qgis CRVAnchorQt5 >/dev/null
  bash scripts/qgis_perf.sh build-rel
fi
echo "== side by side: the engine against the floor, and anchoring's share of a rendered book =="
ratio=$(python3 -c '
import json, sys
runs = {b["run_name"]: b["cpu_time"] for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "mean"}
print("%.1f" % (runs["BM_AnchorElement/100"] / runs["BM_HostMoveUpdateRedraw"]))' out/perf/engine.json)
share=$(sed -n 's/.*anchoring is \([0-9.]*%\) of the run.*/\1/p' out/perf/timing.txt)
echo "AnchorElement (100-page series) / floor: ${ratio} x    anchoring's share of the rendered 10,000-page book: ${share}"
