#!/usr/bin/env bash
# The book rendered in parallel parts and joined has every page once, in order: each page's
# text equals that page of the book rendered in one run. A path is only ever a path, never a
# command; an output that is an input is refused; a failure leaves the old PDF as it was.
# Usage: book_in_parallel_test.sh CRVANCHOR SOURCE_DIR WORK_DIR
set -euo pipefail
crvanchor=$1 src=$2 work=$3
full=$work/full
trap '! mountpoint -q "$full" || umount "$full"' EXIT
! mountpoint -q "$full" || umount "$full"
rm -rf "$work" && mkdir -p "$work" "$full"
# Shell syntax and a space in the folder's name: the script must take both as plain text.
dir='inj$(touch PWNED) x'
samples() { cp "$src"/samples/{lakes_atlas.json,sheets.gpkg,north_arrow.xpm} "$work/$dir"; }
mkdir "$work/$dir" && samples
doc=$dir/lakes_atlas.json
book() { (cd "$work" && CRVANCHOR=${program:-$crvanchor} bash "$src/scripts/book_in_parallel.sh" "$@"); }
failed=0
bad() { echo "$*" >&2 && failed=1; }

book "$doc" "$dir/joined.pdf" 5 2 || bad "the book in parts failed"
[ -z "$(find "$work" -name PWNED)" ] || bad "text of a path was run as a command"
"$crvanchor" book "$work/$doc" --pdf "$work/whole.pdf" >/dev/null
pages=$(qpdf --show-npages "$work/whole.pdf")
joined=$(qpdf --show-npages "$work/$dir/joined.pdf" 2>/dev/null) || joined=0
if [ "$pages" -eq 16 ] && [ "$joined" -eq "$pages" ]; then
  for ((p = 1; p <= pages; p++)); do
    cmp -s <(pdftotext -f $p -l $p "$work/whole.pdf" -) <(pdftotext -f $p -l $p "$work/$dir/joined.pdf" -) ||
      bad "page $p of the joined book differs from page $p of the book in one run"
  done
else
  bad "joined book has $joined pages, one run $pages"
fi

# A document whose name reads like a listing's summary line still gives the whole book.
cp "$work/$doc" "$work/$dir/a: 2 pages from 1, b.json"
book "$dir/a: 2 pages from 1, b.json" "$dir/named.pdf" 8 2 2>/dev/null || bad "the book of an oddly named document failed"
named=$(qpdf --show-npages "$work/$dir/named.pdf" 2>/dev/null) || named=0
[ "$named" -eq "$pages" ] || bad "a document named like a summary line gave $named pages, not $pages"
rm -f "$work/$dir/a: 2 pages from 1, b.json" "$work/$dir/named.pdf"

# Outputs that are an input, or a folder: refused before anything runs, every file unchanged.
# A PDF with a second name would be parted from it.
echo old >"$work/$dir/old.pdf" && ln "$work/$dir/old.pdf" "$work/$dir/twin.pdf"
sums() { md5sum "$work/$dir"/*; }
before=$(sums)
for row in "lakes_atlas.json|that is the map document being read" "sheets.gpkg|that is the map series dataset of the document" \
  "north_arrow.xpm|that is a picture of the layout" ".|not a regular file" \
  "old.pdf|cannot replace it: it has other names (hard links), which would keep the old content"; do
  out=$dir/${row%%|*} want="book_in_parallel.sh: \"$dir/${row%%|*}\": ${row#*|}; nothing was written"
  status=0 && said=$(book "$doc" "$out" 5 2 2>&1) || status=$?
  [ $status -eq 2 ] && [ "$said" = "$want" ] || bad "output $out: status $status, said: $said"
done
[ "$(sums)" = "$before" ] || bad "a refused run changed a file"
samples

# A run that fails, and a disk too full for the joined PDF: status 2, the old PDF as it was
# and no temporary file left beside it.
printf '#!/bin/sh\ncase " $* " in *" 6-10 "*) exit 1 ;; esac\nexec "%s" "$@"\n' "$crvanchor" >"$work/fails-6-10"
chmod +x "$work/fails-6-10"
echo "old book" >"$work/$dir/joined.pdf"
status=0 && program=$work/fails-6-10 book "$doc" "$dir/joined.pdf" 5 2 2>/dev/null || status=$?
[ $status -eq 2 ] && [ "$(cat "$work/$dir/joined.pdf")" = "old book" ] || bad "a failed run: status $status, old PDF lost"
if mount -t tmpfs -o size=200k tmpfs "$full" 2>/dev/null; then
  echo "old book" >"$full/book.pdf"
  dd if=/dev/zero of="$full/filler" bs=4k 2>/dev/null || true
  status=0 && book "$doc" "$full/book.pdf" 5 2 2>/dev/null || status=$?
  [ $status -eq 2 ] && [ "$(cat "$full/book.pdf")" = "old book" ] && [ "$(ls -A "$full")" = $'book.pdf\nfiller' ] ||
    bad "a full disk: status $status, old PDF lost or a temporary file left: $(ls -A "$full" | tr '\n' ' ')"
else
  echo "not tested: a full disk (mounting a small tmpfs needs root)"
fi
[ $failed -eq 0 ] && echo "joined book: $joined pages, each as in one run; refusals and failures keep every file"
exit $failed
