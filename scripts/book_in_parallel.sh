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
#
# OUT is refused, before anything runs, when crvanchor would refuse it: the document, a map
# series dataset or a picture the layout uses, or something other than a regular file. OUT is
# replaced only by a complete joined PDF; when a run or the join fails it stays as it was.
# Exit status: 0 done; 2 refused or failed.
set -euo pipefail
me=${0##*/}
fail() {
  printf '%s: %s\n' "$me" "$1" >&2
  exit 2
}
usage="usage: $me DOC OUT.pdf [PAGES_PER_PART] [JOBS]"
[ $# -ge 2 ] && [ $# -le 4 ] || fail "$usage"
doc=$1 out=$2
per_part=${3:-1000}
jobs=${4:-$(nproc)}
here=$(cd "$(dirname "$0")/.." && pwd)
crvanchor=${CRVANCHOR:-$here/build/crvanchor}
for tool in parallel qpdf; do
  command -v "$tool" >/dev/null || fail "needs $tool (Debian package $tool)"
done
[[ $per_part =~ ^[1-9][0-9]*$ ]] || fail "PAGES_PER_PART must be a positive whole number"
[[ $doc == -* ]] && doc=./$doc # a document, not an option

# crvanchor itself knows, by file identity through links, which files its outputs must not
# replace. Asked for a PDF at OUT and page pictures in /dev/null, which is never a folder, it
# refuses OUT when OUT may not be written, otherwise the pictures' folder: either way before it
# writes anything, so this question writes nothing.
said=$("$crvanchor" book "$doc" --pdf "$out" --png /dev/null 2>&1 >/dev/null) || true
said=${said##*$'\n'}
case $said in
  *' --png "/dev/null": not a folder; nothing was written') ;;
  'crvanchor: --pdf '*) fail "${said#crvanchor: --pdf }" ;;
  *) fail "${said#crvanchor: }" ;;
esac

# The book's first and last page numbers, as crvanchor gives them for scripts (its listing names
# the document's own text, which can look like anything).
range=$("$crvanchor" show "$doc" --page-range 2>&1) || fail "${range#crvanchor: }"
[[ $range =~ ^(-?[0-9]+)\ (-?[0-9]+)$ ]] || fail "$doc: unexpected page range \"$range\""
first=${BASH_REMATCH[1]} last=${BASH_REMATCH[2]}
count=$((last - first + 1))
((count > 0)) || fail "$doc: no pages"

# The joined PDF is written beside OUT's target (through a symbolic link, as crvanchor does),
# so the last step is a rename on one file system: OUT is the old file or the whole new one.
target=$(readlink -f -- "$out" && echo .) || fail "\"$out\": no such folder"
target=${target%$'\n.'} && folder=${target%/*} && folder=${folder:-/}
# Renaming over one name of a file with several would leave the others with the old pages.
[ ! -e "$target" ] || [ "$(stat -c %h -- "$target")" -eq 1 ] ||
  fail "\"$out\": cannot replace it: it has other names (hard links), which would keep the old content; nothing was written"
parts='' joined=''
trap 'rm -rf "$parts"; [ -z "$joined" ] || rm -f "$joined"' EXIT
trap 'exit 2' HUP INT TERM
joined=$(mktemp "$folder/.book_in_parallel.XXXXXX" 2>/dev/null) ||
  fail "\"$out\": cannot create a temporary file beside it; nothing was written"
if [ -e "$target" ]; then
  chmod --reference="$target" "$joined"
else
  chmod "$(printf '%o' $((0666 & ~$(umask))))" "$joined"
fi
parts=$(mktemp -d "${TMPDIR:-/tmp}/crvanchor-parts.XXXXXX")

ranges=()
for ((from = first; from <= last; from += per_part)); do
  to=$((from + per_part - 1)) && ((to > last)) && to=$last
  ranges+=("$from-$to")
done
echo "$doc: pages $first to $last in ${#ranges[@]} parts, $jobs at a time" >&2
# Zero-padded part names keep the join in page order; --halt stops every run at the first
# failure. The paths reach the runs through the environment, never through a command line
# that a shell parses: the command below is fixed text, and {1} and {2} are digits.
export CRVANCHOR=$crvanchor CRV_BOOK_DOC=$doc CRV_BOOK_PARTS=$parts
printf '%s\n' "${ranges[@]}" | awk '{ printf "%08d %s\n", NR, $0 }' |
  parallel --will-cite --halt now,fail=1 --colsep ' ' -j "$jobs" \
    'exec "$CRVANCHOR" book "$CRV_BOOK_DOC" --pages {2} --pdf "$CRV_BOOK_PARTS/part-{1}.pdf" >/dev/null' ||
  fail "\"$out\": a run failed; it was left as it was"
# qpdf does not notice a full disk, so the joined PDF is read back before it replaces OUT.
files=("$parts"/part-*.pdf)
qpdf --empty --pages "${files[@]}" -- "$joined" && n=$(qpdf --show-npages "$joined" 2>/dev/null) &&
  [ "$n" = "$count" ] && sync -- "$joined" ||
  fail "\"$out\": cannot write the joined PDF whole (is the disk full?); it was left as it was"
mv -f -T -- "$joined" "$target" || fail "\"$out\": cannot replace the file; it was left as it was"
joined=
sync -- "$folder" || true
echo "$out: $count pages" >&2
