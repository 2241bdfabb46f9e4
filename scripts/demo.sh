#!/usr/bin/env bash
# Installs, builds, places a small map book through the anchoring engine, and then runs the
# bundled Lake District map book into a PDF and a report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j"$(nproc)" --target crvanchor-demo crvanchor
./build/crvanchor-demo
mkdir -p out
./build/crvanchor book samples/lakes_atlas.json --pdf out/book.pdf --report out/report.json
