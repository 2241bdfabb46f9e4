#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix the Windows tests share (WINEPREFIX, else
# build-win/wineprefix beside this script's build), quietly and without the optional runtimes
# Wine would offer to download. With --on-screen first, on a virtual screen of its own.
set -euo pipefail
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build-win/wineprefix}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=${WINE:-/usr/lib/wine/wine64}
if [ -z "${WINESERVER:-}" ]; then
  WINESERVER=$(dirname "$WINE")/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=$(dirname "$WINE")/wineserver
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
fi
export WINE WINESERVER
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot --init >/dev/null 2>&1 || true
  "$WINESERVER" -w 2>/dev/null || true
fi
if [ "${1:-}" = --on-screen ]; then
  # Wine's desktop keeps the screen it was started on until the prefix's last program ends: the
  # prefix's programs end before the program starts on the screen and again before the screen
  # goes, so that no other program meets a desktop without one; one that does not end within a
  # minute is ended.
  shift
  exec xvfb-run -a bash -c '
    end() { timeout 60 "$WINESERVER" -w || "$WINESERVER" -k; }
    end
    status=0
    "$WINE" "$@" || status=$?
    end
    exit "$status"' wine-run "$@"
fi
exec "$WINE" "$@"
