#!/usr/bin/env bash
# Makes a long map book for measurements: the bundled book's layout over an index layer of
# SHEETS generated sheets (a grid 100 sheets wide, fields as in the sample, every fifth
# sheet's arrow offsets null).  Usage: scripts/make_big_book.sh SHEETS DIR
set -euo pipefail
sheets=${1:?how many sheets?}
dir=${2:?which folder?}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$dir"
awk -v n="$sheets" 'BEGIN {
  print "WKT,PAGE_NO,SHEET,NAME,SCALE,SURVEYED,ARROW_DX,ARROW_DY"
  for (p = 1; p <= n; p++) {
    col = (p - 1) % 100; row = int((p - 1) / 100)
    e = 300000 + col * 10000; no = 1500000 - row * 10000
    dx = (p % 5 == 0) ? "" : sprintf("%.2f", -0.12 - (p % 4) * 0.06)
    dy = (p % 5 == 0) ? "" : sprintf("%.2f", -0.12 - (p % 3) * 0.08)
    printf "\"POLYGON((%d %d,%d %d,%d %d,%d %d,%d %d))\",%d,G %d,Sheet %d,25000,2020-%02d-15,%s,%s\n",
      e, no, e + 10000, no, e + 10000, no + 10000, e, no + 10000, e, no, p, p, p, 1 + p % 12, dx, dy
  }
}' > "$dir/sheets.csv"
echo '"WKT","Integer","String","String","Integer(Int16)","Date","Real","Real"' > "$dir/sheets.csvt"
rm -f "$dir/sheets.gpkg"
# The output format follows the extension.
ogr2ogr "$dir/sheets.gpkg" "$dir/sheets.csv" -nln sheets -a_srs EPSG:27700 \
  -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO -nlt POLYGON
rm -f "$dir/sheets.csv" "$dir/sheets.csvt"
cp "$here/samples/lakes_atlas.json" "$dir/book.json"
cp "$here/samples/north_arrow.xpm" "$dir/"
echo "$dir/book.json: $sheets pages"
