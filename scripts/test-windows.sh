#!/usr/bin/env bash
# Builds the component as a Windows library with mingw-w64 and runs its tests under Wine, in a
# Wine prefix of its own (build-win/wineprefix), made afresh each run so that no registration
# of an earlier run can hide a missing one.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build-win/wineprefix
# Wine takes some ten seconds to make a prefix: it makes it while the programs are built.
WINEPREFIX="$PWD/build-win/wineprefix" windows/wine-run.sh cmd /c exit >/dev/null 2>&1 &
prefix_made=$!
# The sample book on Windows is compared with the Linux book, and its host reads the snapshot a
# Linux program writes: those programs first (nothing to do after scripts/test.sh's build).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCRV_BUILD_BENCHMARKS=OFF -DCRV_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target crvanchor crvanchor-snapshot crvanchor-pagecapture crvinstall CRVAnchor
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Debug \
  -DCRV_WERROR=ON "$@" >/dev/null
cmake --build build-win -j"$(nproc)"
wait "$prefix_made" || { echo "test-windows.sh: Wine could not make its prefix" >&2; exit 1; }
# The tests share the prefix's registry: one at a time.
ctest --test-dir build-win --output-on-failure -j1

# The plugin's ZIP holds both platforms' cores when the Windows one is given.
cmake -S . -B build -DCRV_WINDOWS_CORE="$PWD/build-win/crvanchor_core.dll" >/dev/null
cmake --build build --target plugin_zip
for core in linux-x86_64/libcrvanchor_core.so windows-x86_64/crvanchor_core.dll; do
  python3 -m zipfile -l build/crvanchor-*.zip | grep -q "^crvanchor/libs/$core " ||
    { echo "test-windows.sh: the plugin's ZIP lacks libs/$core" >&2; exit 1; }
done
