#!/usr/bin/env bash
# Installs, builds and runs every test twice: a normal build, then one with
# AddressSanitizer and UndefinedBehaviorSanitizer (leaks fatal).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCRV_BUILD_BENCHMARKS=OFF -DCRV_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
}

echo "== normal build =="
run_suite build
echo "== sanitizer build (address, undefined, leaks) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCRV_SANITIZE=ON
echo "== Windows build (mingw-w64), run under Wine =="
bash scripts/test-windows.sh
