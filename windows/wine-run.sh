#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix the Windows tests share (WINEPREFIX, else
# build-win/wineprefix beside this script's build), quietly and without the optional runtimes
# Wine would offer to download. With --on-screen first, on a virtual screen of its own.
set -euo pipefail
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build-win/wineprefix}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot --init >/dev/null 2>&1 || true
  "$WINESERVER" -w 2>/dev/null || true
fi
if [ "${1:-}" = --on-screen ]; then
  # Wine's desktop keeps the screen it was started on until the prefix's last program ends: the
  # prefix's programs end before the screen comes and again before it goes, so that no other
  # program meets a desktop without one.
  shift
  "$WINESERVER" -w
  status=0
  xvfb-run -a "$WINE" "$@" || status=$?
  "$WINESERVER" -w
  exit "$status"
fi
exec "$WINE" "$@"
