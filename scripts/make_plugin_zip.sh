#!/usr/bin/env bash
# The QGIS plugin's ZIP for "Install from ZIP" and for QGIS's plugin repository: Release builds
# of the anchoring core for Linux and for Windows (mingw-w64), packed with the plugin's Python
# package, help and translations into build-zip/crvanchor-<version>.zip.
#
#   bash scripts/make_plugin_zip.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-zip-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCRV_BUILD_TESTS=OFF -DCRV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-zip-win -j"$(nproc)" --target crvcore
cmake -S . -B build-zip -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRV_BUILD_TESTS=OFF -DCRV_BUILD_BENCHMARKS=OFF \
  -DCRV_WINDOWS_CORE="$PWD/build-zip-win/crvanchor_core.dll" >/dev/null
cmake --build build-zip -j"$(nproc)" --target plugin_zip
ls build-zip/crvanchor-*.zip
