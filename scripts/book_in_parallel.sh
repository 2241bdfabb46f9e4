#!/usr/bin/env bash
# Renders a long map book as several `crvanchor book --pages` runs side by side (GNU parallel)
# and joins their PDFs in page order (qpdf). Each run anchors its own pages from the document
# as saved, so the parts do not depend on one another.
#
# Usage: scripts/book_in_parallel.sh DOC OUT.pdf [PAGES_PER_PART] [JOBS]
#   PAGES_PER_PART  pages in each run (default 1000)
#   JOBS            runs at a time (default: the number of processors)
# CRVANCHOR=path/to/crvanchor picks the program (default build/crvanchor); the component must
# be registered (see CRVANCHOR_REGISTRY).
set -euo pipefail
doc=${1:?"usage: $0 DOC OUT.pdf [PAGES_PER_PART] [JOBS]"}
out=${2:?"usage: $0 DOC OUT.pdf [PAGES_PER_PART] [JOBS]"}
per_part=${3:-1000}
jobs=${4:-$(nproc)}
here=$(cd "$(dirname "$0")/.." && pwd)
crvanchor=${CRVANCHOR:-$here/build/crvanchor}
for tool in parallel qpdf; do
  command -v "$tool" >/dev/null || { echo "$0: needs $tool (Debian package $tool)" >&2; exit 2; }
done
[[ $per_part =~ ^[1-9][0-9]*$ ]] || { echo "$0: PAGES_PER_PART must be a positive whole number" >&2; exit 2; }

# "Map series ... : N pages from F, ..." names the book's page numbers.
read -r count first < <("$crvanchor" show "$doc" | sed -n 's/.*: \([0-9]\+\) pages from \(-\?[0-9]\+\),.*/\1 \2/p' | head -n1) || true
[ -n "${count:-}" ] || { echo "$0: $doc: no map series found" >&2; exit 2; }
last=$((first + count - 1))

parts=$(mktemp -d "${TMPDIR:-/tmp}/crvanchor-parts.XXXXXX")
trap 'rm -rf "$parts"' EXIT
ranges=()
for ((from = first; from <= last; from += per_part)); do
  to=$((from + per_part - 1)); ((to > last)) && to=$last
  ranges+=("$from-$to")
done
echo "$doc: pages $first to $last in ${#ranges[@]} parts, $jobs at a time" >&2
# Zero-padded part names keep the join in page order; --halt stops every run at the first failure.
printf '%s\n' "${ranges[@]}" | awk '{ printf "%08d %s\n", NR, $0 }' |
  parallel --will-cite --halt now,fail=1 --colsep ' ' -j "$jobs" \
    "$crvanchor" book "$doc" --pages {2} --pdf "$parts/part-{1}.pdf" '>' "$parts/part-{1}.log"
mapfile -t files < <(ls "$parts"/part-*.pdf | sort)
qpdf --empty --pages "${files[@]}" -- "$parts/joined.pdf"
mv "$parts/joined.pdf" "$out"
echo "$out: $(qpdf --show-npages "$out") pages" >&2
