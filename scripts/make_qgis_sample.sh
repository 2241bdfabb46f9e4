#!/usr/bin/env bash
# Makes samples/lakes_atlas.qgz, the QGIS project of the bundled map book, or with --world
# samples/world_atlas.qgz, the atlas of Europe from QGIS's own countries; with the Python that
# has PyQGIS (Debian package python3-qgis), without a screen.
#
#   bash scripts/make_qgis_sample.sh [--world] [path/to/crvanchor-qgis] [OUT.qgz]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
script=make_qgis_sample.py
if [ "${1:-}" = --world ]; then script=make_world_atlas.py; shift; fi
command=${1:-$here/build/crvanchor-qgis}
[ -x "$command" ] || { echo "make_qgis_sample.sh: build crvanchor-qgis first (or pass its path)" >&2; exit 2; }
python=
for p in ${PYTHON:-} python3 /usr/bin/python3; do
  if "$p" -c 'import qgis.core' 2>/dev/null; then python=$p; break; fi
done
[ -n "$python" ] || { echo "make_qgis_sample.sh: no python3 with PyQGIS (install python3-qgis)" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
exec "$python" "$here/samples/$script" --crvanchor-qgis "$command" ${2:+"$2"}
