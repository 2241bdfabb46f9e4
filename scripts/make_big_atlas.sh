#!/usr/bin/env bash
# Makes a long QGIS atlas for measurements: a copy of samples/lakes_atlas.qgz beside a generated
# sheets.gpkg of SHEETS sheets (the grid and fields of scripts/make_big_book.sh), which the
# project's coverage layer reads by its relative path.  Usage: scripts/make_big_atlas.sh SHEETS DIR
set -euo pipefail
sheets=${1:?how many sheets?}
dir=${2:?which folder?}
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/make_big_book.sh" "$sheets" "$dir" >/dev/null
rm -f "$dir/book.json"
cp "$here/samples/lakes_atlas.qgz" "$dir/"
echo "$dir/lakes_atlas.qgz: $sheets pages"
