#!/usr/bin/env bash
# Installs what is missing, builds, registers the component into a registry of its own, and
# runs the bundled Lake District map book into a PDF and a report of every element's place; then
# the same book as a QGIS project through QGIS's own exporter, and the atlas of Europe.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j"$(nproc)" --target CRVAnchor crvanchor crvinstall
mkdir -p out
export CRVANCHOR_REGISTRY="$PWD/out/registry.db"
./build/crvinstall build/libCRVAnchor.so
./build/crvanchor book samples/lakes_atlas.json --pdf out/book.pdf --png out/pages --report out/report.json
echo "The book is in out/book.pdf, its pages in out/pages/, where every element went in out/report.json."
cmake --build build -j"$(nproc)" --target crvcore  # crvanchor-qgis is the plugin's Python over the core
./build/crvanchor-qgis samples/lakes_atlas.qgz --layout "Lakes Atlas" --pdf out/qgis-book.pdf --report out/qgis-report.json
echo "The same book printed by QGIS is in out/qgis-book.pdf, where every item went in out/qgis-report.json."
./build/crvanchor-qgis samples/world_atlas.qgz --layout Europe --pdf out/world-atlas.pdf --png out/world-png \
  --report out/world-report.json
echo "The atlas of Europe, a country a page on facing pages, is in out/world-atlas.pdf and out/world-png/."
