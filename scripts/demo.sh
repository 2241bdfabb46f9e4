#!/usr/bin/env bash
# Installs, builds, and runs the demonstration map book through the anchoring engine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j"$(nproc)" --target crvanchor-demo
./build/crvanchor-demo
