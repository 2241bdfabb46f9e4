#!/usr/bin/env bash
# The book rendered in parallel parts and joined has every page once, in order: each page's
# text equals that page of the book rendered in one run.
# Usage: book_in_parallel_test.sh CRVANCHOR SOURCE_DIR WORK_DIR
set -euo pipefail
crvanchor=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
doc=$src/samples/lakes_atlas.json
CRVANCHOR=$crvanchor bash "$src/scripts/book_in_parallel.sh" "$doc" "$work/joined.pdf" 5 2
"$crvanchor" book "$doc" --pdf "$work/whole.pdf" >/dev/null
pages=$(qpdf --show-npages "$work/whole.pdf")
joined=$(qpdf --show-npages "$work/joined.pdf")
[ "$pages" -eq 16 ] && [ "$joined" -eq "$pages" ] || { echo "joined book has $joined pages, one run $pages" >&2; exit 1; }
for ((p = 1; p <= pages; p++)); do
  if ! cmp -s <(pdftotext -f $p -l $p "$work/whole.pdf" -) <(pdftotext -f $p -l $p "$work/joined.pdf" -); then
    echo "page $p of the joined book differs from page $p of the book in one run" >&2
    exit 1
  fi
done
echo "joined book: $joined pages, each as in one run"
