#!/usr/bin/env bash
# Takes docs/qgis-designer-dock.png: the QGIS desktop under a virtual screen, the plugin
# installed into a temporary profile and enabled there, a layout designer
# open with an item selected and the "Anchor" dock beside it. Uses samples/lakes_atlas.qgz
# when it exists, else a small layout built on the spot.
#
#   bash scripts/qgis_designer_screenshot.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-$here/docs/qgis-designer-dock.png}
[ -f "$build/libcrvanchor_core.so" ] || { echo "qgis_designer_screenshot.sh: build the core first (target crvcore)" >&2; exit 2; }
command -v xvfb-run >/dev/null || { echo "qgis_designer_screenshot.sh: needs xvfb-run (package xvfb)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A profile of our own (profiles/default under $work, as under ~/.local/share/QGIS/QGIS3): the
# plugin installed and enabled in it, no first-run dialogs.
cmake --install "$build" --component qgis_user --prefix "$work/prefix" >/dev/null
mkdir -p "$work/profiles/default/QGIS"
ln -s "$work/prefix/share/QGIS/QGIS3/profiles/default/python" "$work/profiles/default/python"
cat >"$work/profiles/default/QGIS/QGIS3.ini" <<INI
[PythonPlugins]
crvanchor=true

[qgis]
checkVersion=false
showTips=false
INI

project=()
if [ -f "$here/samples/lakes_atlas.qgz" ]; then
  cp "$here/samples/lakes_atlas.qgz" "$here/samples/sheets.gpkg" "$here/samples/north_arrow.xpm" "$work/"
  project=(--project "$work/lakes_atlas.qgz")
fi
mkdir -p "$(dirname "$out")"
CRV_SHOT="$out" timeout 180 xvfb-run -a -s "-screen 0 1600x1000x24" \
  qgis --noversioncheck --nologo --profiles-path "$work" "${project[@]}" \
       --code "$here/scripts/qgis_designer_screenshot.py" >"$work/qgis.log" 2>&1 || true
if [ ! -s "$out" ]; then
  echo "qgis_designer_screenshot.sh: no screenshot taken; QGIS said:" >&2
  tail -20 "$work/qgis.log" >&2
  exit 1
fi
echo "$out"
