#!/usr/bin/env bash
# crvanchor-snapshot never writes over what it reads or over what is not a regular file: each
# such output is refused in one line with status 2 and every file is left as it was; a new file
# and a former snapshot are written.
# Usage: snapshot_outputs_test.sh CRVANCHOR_SNAPSHOT SOURCE_DIR WORK_DIR
set -euo pipefail
snapshot=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cp "$src"/samples/{lakes_atlas.json,sheets.gpkg,north_arrow.xpm} "$work"
# Relative names from here on: messages cut long paths, and the build folder's can be anything.
cd "$work"
doc=lakes_atlas.json
ln -s lakes_atlas.json "$work/link.json"
mkfifo "$work/pipe"
ln -s pipe "$work/to-pipe"
mkdir "$work/folder"
echo old >"$work/twin-a.json" && ln "$work/twin-a.json" "$work/twin-b.json"
failed=0
bad() { echo "$*" >&2 && failed=1; }
sums() { md5sum "$work"/*.json "$work"/*.gpkg "$work"/*.xpm; }
before=$(sums)

unwritten="; nothing was written"
for row in "lakes_atlas.json|output \"lakes_atlas.json\": that is the map document being read$unwritten" \
  "link.json|output \"link.json\": that is the map document being read$unwritten" \
  "sheets.gpkg|output \"sheets.gpkg\": that is the map series dataset of the document$unwritten" \
  "north_arrow.xpm|output \"north_arrow.xpm\": that is a picture of the layout$unwritten" \
  "pipe|output \"pipe\": not a regular file$unwritten" \
  "to-pipe|output \"to-pipe\": not a regular file$unwritten" \
  "folder|output \"folder\": not a regular file$unwritten" \
  "twin-a.json|twin-a.json: cannot replace it: it is one of 2 hard links to one file, and the others would keep the old content"; do
  out=${row%%|*} want="crvanchor-snapshot: ${row#*|}"
  status=0 && said=$(timeout 20 "$snapshot" "$doc" "$out" 2>&1) || status=$?
  [ $status -eq 2 ] && [ "$said" = "$want" ] || bad "output ${row%%|*}: status $status, said: $said"
done
[ "$(sums)" = "$before" ] || bad "a refused snapshot changed a file"
[ -p "$work/pipe" ] && [ -d "$work/folder" ] || bad "a refused snapshot replaced the pipe or the folder"

# A new file, then the same file again: both written.
for pass in new again; do
  status=0 && "$snapshot" "$doc" "$work/snap.json" || status=$?
  [ $status -eq 0 ] && grep -q '"elements"' "$work/snap.json" || bad "snapshot ($pass): status $status"
done
exit $failed
