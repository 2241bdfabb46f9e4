#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix the Windows tests share (WINEPREFIX, else
# build-win/wineprefix beside this script's build), quietly and without the optional runtimes
# Wine would offer to download.
set -euo pipefail
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build-win/wineprefix}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=${WINE:-/usr/lib/wine/wine64}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver64 -w 2>/dev/null || wineserver -w 2>/dev/null || true
fi
exec "$WINE" "$@"
