#!/usr/bin/env bash
# Reproduces every figure of docs/performance.md: the engine benchmarks, the peak-memory runs,
# and the map-book command on the sample and on a generated 10,000-page book, anchoring
# alone and anchoring plus rendering. Release build in build-rel/, scratch files in out/perf/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRV_BUILD_TESTS=OFF >/dev/null
cmake --build build-rel -j"$(nproc)" --target crv_bench crv_memory crv_book_bench crvanchor crvinstall CRVAnchor
mkdir -p out/perf
export CRVANCHOR_REGISTRY="$PWD/out/perf/registry.db"
./build-rel/crvinstall build-rel/libCRVAnchor.so >/dev/null

echo "== engine benchmarks =="
./build-rel/crv_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
echo "== engine against the floor, by instructions =="
bash scripts/engine_ratio.sh build-rel
echo "== peak memory over long runs =="
for n in 100000 1000000; do ./build-rel/crv_memory anchor "$n"; done
for n in 100 1000; do QT_QPA_PLATFORM=offscreen ./build-rel/crv_memory page "$n" 2>/dev/null; done
echo "== map-book command =="
[ -f out/perf/big/sheets.gpkg ] || bash scripts/make_big_book.sh 10000 out/perf/big
for doc in samples/lakes_atlas.json out/perf/big/book.json; do
  ./build-rel/crvanchor book "$doc" --timing
  ./build-rel/crvanchor book "$doc" --timing --pdf out/perf/book.pdf
done
