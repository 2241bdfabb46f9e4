#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, address and undefined sanitizers) and runs
# each from its committed seed corpus: a fixed number of inputs from a fixed random seed (about
# a minute each here, so a run is repeatable), never longer than SECONDS.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]; FUZZ_RUNS=N overrides the number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(page_list conversions manager document qgis_records)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCRV_FUZZ=ON -DCRV_WERROR=ON \
  -DCRV_BUILD_TESTS=OFF -DCRV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

failed=0
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  echo "== fuzzing $t =="
  case $t in
    page_list) runs=1000000 ;; conversions) runs=800000 ;; manager) runs=30000 ;; qgis_records) runs=300000 ;; *) runs=80000 ;;
  esac
  runs=${FUZZ_RUNS:-$runs}
  if ./build-fuzz/fuzz_"$t" -seed=1 -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix=build-fuzz/"$t"- "$work" fuzz/corpus/"$t" >build-fuzz/"$t".log 2>&1; then
    tail -n 1 build-fuzz/"$t".log
  else
    failed=1
    echo "fuzz_$t found a failure; the input is in build-fuzz/$t-*; its log:"
    tail -n 40 build-fuzz/"$t".log
  fi
  rm -rf "$work"
done
exit $failed
