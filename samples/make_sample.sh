#!/usr/bin/env bash
# Makes the bundled map book: an index layer of 16 ten-kilometre sheets over the English
# Lake District (British National Grid, metres), a north arrow picture, and a document whose
# elements get their anchoring through `crvanchor anchor`, as a user would give it.
#
#   bash samples/make_sample.sh [path/to/crvanchor]
#
# Needs ogr2ogr (Debian package gdal-bin). The results are committed; run it again only to
# change the sample.
set -euo pipefail
cd "$(dirname "$0")"
crvanchor=${1:-../build/crvanchor}
[ -x "$crvanchor" ] || { echo "make_sample.sh: build crvanchor first (or pass its path)" >&2; exit 2; }

# ------------------------------------------------------------ index layer
# Sheets run west to east, north to south; a place in each names it. Some pages leave the north
# arrow's offsets null, so the fixed distances apply there.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
{
  echo 'WKT,PAGE_NO,SHEET,NAME,SCALE,SURVEYED,ARROW_DX,ARROW_DY'
  page=0
  for row in 2 1 0 9; do
    for col in 1 2 3 4; do
      page=$((page + 1))
      if [ "$row" = 9 ]; then square=SD; north=490000; else square=NY; north=$((500000 + row * 10000)); fi
      east=$((300000 + col * 10000))
      case "$square$col$row" in
        NY12) name=Loweswater ;; NY22) name=Keswick ;; NY32) name=Threlkeld ;; NY42) name="Pooley Bridge" ;;
        NY11) name=Buttermere ;; NY21) name=Borrowdale ;; NY31) name=Helvellyn ;; NY41) name=Haweswater ;;
        NY10) name="Wasdale Head" ;; NY20) name="Scafell Pike" ;; NY30) name=Grasmere ;; NY40) name=Kentmere ;;
        SD19) name=Ulpha ;; SD29) name=Dunnerdale ;; SD39) name=Coniston ;; SD49) name=Windermere ;;
      esac
      case $page in
        3|8|13) dx=''; dy='' ;;
        *) dx=$(awk -v p="$page" 'BEGIN { printf "%.2f", -0.12 - (p % 4) * 0.06 }')
           dy=$(awk -v p="$page" 'BEGIN { printf "%.2f", -0.12 - (p % 3) * 0.08 }') ;;
      esac
      surveyed=$(printf '20%02d-%02d-15' $((10 + page % 9)) $((1 + page % 12)))
      e2=$((east + 10000)); n2=$((north + 10000))
      echo "\"POLYGON(($east $north,$e2 $north,$e2 $n2,$east $n2,$east $north))\",$page,$square $col$row,$name,25000,$surveyed,$dx,$dy"
    done
  done
} > "$tmp/sheets.csv"
echo '"WKT","Integer","String","String","Integer(Int16)","Date","Real","Real"' > "$tmp/sheets.csvt"
rm -f sheets.gpkg
# The output format follows the extension.
ogr2ogr sheets.gpkg "$tmp/sheets.csv" -nln sheets -a_srs EPSG:27700 \
  -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO -nlt POLYGON

# ------------------------------------------------------------ north arrow (XPM, text)
awk 'BEGIN {
  w = 48; h = 72
  print "/* XPM */"; print "static char *north_arrow[] = {"
  printf "\"%d %d 3 1\",\n\"  c None\",\n\"# c #1a1a1a\",\n\". c #ffffff\",\n", w, h
  for (y = 0; y < h; y++) {
    line = ""
    for (x = 0; x < w; x++) {
      c = " "
      if (y < 20) {                                   # the letter N
        if ((x >= 15 && x <= 18) || (x >= 29 && x <= 32)) c = "#"
        d = (x - 15) - (y * 14 / 19)
        if (x >= 15 && x <= 32 && d >= 0 && d <= 3.5) c = "#"
      } else if (y >= 24) {                           # the arrow, dark west half
        hw = (y - 24) / (h - 1 - 24) * 20
        dx = x - 23.5; if (dx < 0) dx = -dx
        if (dx <= hw) c = (x < 24 || dx >= hw - 1.5 || y >= h - 2) ? "#" : "."
      }
      line = line c
    }
    printf "\"%s\"%s\n", line, (y < h - 1 ? "," : "};")
  }
}' > north_arrow.xpm

# ------------------------------------------------------------ the document
doc=lakes_atlas.json
cat > "$doc" <<'JSON'
{
  "format": "crvanchor-document",
  "version": 1,
  "page": {"width": 8.5, "height": 11, "units": "inches"},
  "elements": [
    {"type": "map_frame", "name": "Main Map", "outline": [0.75, 1.6, 7.75, 9.4], "border": 0.04,
     "label_field": "NAME",
     "series": {"name": "Lake District sheets", "dataset": "sheets.gpkg", "layer": "sheets",
                "order_field": "PAGE_NO", "first_page": 1, "enabled": true}},
    {"type": "text", "name": "Title", "rect": [0, 0, 7, 0.45], "font_size": 22,
     "text": "{field:NAME} \u2014 sheet {field:SHEET}"},
    {"type": "text", "name": "Survey Note", "rect": [0, 0, 2.4, 0.2], "font_size": 8,
     "text": "Surveyed {field:SURVEYED} \u00b7 1:{field:SCALE}"},
    {"type": "picture", "name": "North Arrow", "rect": [0, 0, 0.42, 0.63], "file": "north_arrow.xpm"},
    {"type": "group", "name": "Legend", "members_by": "walk", "members": [
      {"type": "text", "name": "Legend Title", "align": "left", "rect": [0, 0.66, 2.2, 0.9], "font_size": 10, "text": "Legend"},
      {"type": "text", "name": "Legend Sheet", "align": "left", "rect": [0, 0.44, 2.2, 0.64], "font_size": 8,
       "text": "Outlined in red: this sheet"},
      {"type": "text", "name": "Legend Neighbours", "align": "left", "rect": [0, 0.22, 2.2, 0.42], "font_size": 8,
       "text": "Green: neighbouring sheets"},
      {"type": "text", "name": "Legend Grid", "align": "left", "rect": [0, 0, 2.2, 0.2], "font_size": 8,
       "text": "Grid: national grid metres"}]},
    {"type": "text", "name": "Page Number", "rect": [0, 0, 0.6, 0.3], "font_size": 12, "text": "{page}"}
  ],
  "series_layouts": [{"name": "Lakes Atlas", "current_page": {"kind": "int32", "value": 1}}],
  "active_layout": {"name": "Lakes Atlas", "kind": "SeriesLayout"}
}
JSON

a() { "$crvanchor" anchor "$doc" "$@" >/dev/null; }
a "Title" AnchorElement=true AnchorPriority=HIGH AnchorFromAll="Top Center" AnchorToAll="Top Center" VDistanceAll=-0.45
a "Page Number" AnchorElement=true AnchorPriority=MEDIUM \
  AnchorFromAll="Bottom Right" AnchorToAll="Bottom Right" HDistanceAll=-0.5 VDistanceAll=0.35 \
  UseAltAnchoring=true AltAnchorType="Even Pages" \
  AnchorFromAlt="Bottom Left" AnchorToAlt="Bottom Left" HDistanceAlt=0.5 VDistanceAlt=0.35
a "North Arrow" AnchorElement=true AnchorPriority=MEDIUM AnchorType=NamedElement ElementName="Main Map" \
  AnchorFromAll="Top Right" AnchorToAll="Top Right" HDistanceAll=-0.15 VDistanceAll=-0.15 \
  HFromFieldAll=true HFieldNameAll=ARROW_DX VFromFieldAll=true VFieldNameAll=ARROW_DY
a "Legend" AnchorElement=true AnchorPriority=LOW AnchorType=NamedElement ElementName="Main Map" \
  AnchorFromAll="Top Left" AnchorToAll="Bottom Left" VDistanceAll=-0.15 \
  UseAltAnchoring=true AltAnchorType="Even Pages" \
  AnchorFromAlt="Top Right" AnchorToAlt="Bottom Right" VDistanceAlt=-0.15
a "Survey Note" AnchorElement=true AnchorPriority=LOW AnchorType=NamedElement ElementName="Main Map" \
  AnchorFromAll="Bottom Center" AnchorToAll="Top Center" VDistanceAll=0.1 \
  UseAltAnchoring=true AltAnchorType="Page Range" AltAnchorPageRange="2, 5-7, 12" \
  AnchorFromAlt="Top Center" AnchorToAlt="Bottom Center" VDistanceAlt=-0.15
echo "made samples/sheets.gpkg, samples/north_arrow.xpm and samples/$doc"
