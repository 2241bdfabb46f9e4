#!/usr/bin/env bash
# Pictures of the Windows anchor page: each of its four tabs in the platform's property sheet,
# shown under Wine on a virtual screen, into docs/windows-page-{1,2,3,4}.png. Needs the Windows
# build (scripts/test-windows.sh makes it) and xvfb, xwd and ImageMagick (install-deps.sh).
#   scripts/windows_page_screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
capture=$build/crvanchor-pagecapture.exe
[ -f "$capture" ] || { echo "no $capture: build the Windows tree first" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export capture
# Wine's own fonts (the dialog font, and the glyphs of the caption's buttons), where this Wine
# does not look for them by itself.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
for font in /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf; do
  [ -f "$font" ] && cp -u "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  out=$(mktemp -d)
  trap "rm -rf $out" EXIT
  for tab in 1 2 3 4; do
    # Wine draws the frames itself on a desktop of its own; the sheet is shown for 8 seconds.
    windows/wine-run.sh explorer /desktop=pages,1024x768 "$capture" "$tab" 8 >"$out/place" &
    shown=$!
    for _ in $(seq 100); do grep -q "^sheet " "$out/place" 2>/dev/null && break; sleep 0.2; done
    read -r _ x y w h <"$out/place" || { echo "tab $tab: the sheet was not shown" >&2; exit 1; }
    sleep 2
    xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "docs/windows-page-$tab.png"
    echo "docs/windows-page-$tab.png"
    wait "$shown"
  done
'
