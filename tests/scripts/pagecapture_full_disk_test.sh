#!/bin/bash
# crvanchor-pagecapture on a full disk: status 2, one line naming the picture it could not write,
# and the pictures there before left as they were, with no temporary file beside them. Needs a
# small file system of its own, which only root may mount; skipped (status 77) elsewhere.
set -u
capture=$1
work=$(mktemp -d)
disk=$work/disk
mkdir "$disk"
if ! mount -t tmpfs -o size=256k tmpfs "$disk" 2>/dev/null; then
    rm -rf "$work"
    echo "skipped: a small file system cannot be mounted here"
    exit 77
fi
trap 'umount "$disk"; rm -rf "$work"' EXIT
names="anchor-page-tab0-anchored-to anchor-page-tab1-primary-anchor anchor-page-tab2-alternate-anchor
       anchor-page-tab3-options"
for n in $names; do echo "former $n" >"$disk/$n.png"; done
dd if=/dev/zero of="$disk/filler" bs=4k 2>/dev/null  # until the disk is full

QT_QPA_PLATFORM=offscreen "$capture" "$disk" >"$work/out" 2>"$work/err"
status=$?
failed=0
fail() { echo "$1"; failed=1; }
[ "$status" -eq 2 ] || fail "status $status, expected 2"
[ -s "$work/out" ] && fail "standard output: $(cat "$work/out")"
said=$(grep '^crvanchor-pagecapture: ' "$work/err")
[ "$said" = "crvanchor-pagecapture: $disk/anchor-page-tab0-anchored-to.png: cannot write: No space left on device" ] ||
    fail "standard error: $(cat "$work/err")"
for n in $names; do
    [ "$(cat "$disk/$n.png")" = "former $n" ] || fail "$n.png was changed"
done
[ "$(ls -A "$disk" | wc -l)" -eq 5 ] || fail "left behind: $(ls -A "$disk")"
[ $failed -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $failed
