#!/usr/bin/env bash
# The sample atlas printed through QGIS puts every anchored item where the standalone book puts
# it, on every page: the QGIS layout measures in millimetres, the book in inches.
# Usage: qgis_matches_book_test.sh CRVANCHOR CRVANCHOR_QGIS SOURCE_DIR WORK_DIR
set -euo pipefail
crvanchor=$1 crvanchor_qgis=$2 src=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
"$crvanchor" book "$src/samples/lakes_atlas.json" --report "$work/book.json" >/dev/null
"$crvanchor_qgis" "$src/samples/lakes_atlas.qgz" --layout "Lakes Atlas" --pdf "$work/atlas.pdf" \
  --report "$work/atlas.json" >/dev/null
pages=$(qpdf --show-npages "$work/atlas.pdf")
[ "$pages" -eq 16 ] || { echo "the QGIS atlas PDF has $pages pages, the book 16" >&2; exit 1; }
python3 - "$work/book.json" "$work/atlas.json" <<'PY'
import json, sys
book, atlas = (json.load(open(p)) for p in sys.argv[1:3])
assert book["anchor_order"] == atlas["anchor_order"], (book["anchor_order"], atlas["anchor_order"])
assert len(book["pages"]) == len(atlas["pages"]) == 16
placed = 0
for bp, ap in zip(book["pages"], atlas["pages"]):
    items = {e["name"]: e for e in ap["elements"]}
    for e in bp["elements"]:
        if not e.get("anchored"):
            continue
        want = [v * 25.4 for v in e["rect"]]
        got = items[e["name"]]["rect"]
        if max(abs(a - b) for a, b in zip(want, got)) > 1e-9:
            sys.exit("page %s, %s: the book puts it at %s mm, QGIS at %s" % (bp["page"], e["name"], want, got))
        placed += 1
assert placed == 16 * 5, placed
assert not atlas["error_reports"], atlas["error_reports"]
print("every anchored item on every page where the book puts it (%d placements)" % placed)
PY
