#!/bin/sh
# Runs a Windows program under wine64 with the Wine prefix given as the first
# argument (the build tree keeps its own) and without a display.
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#   wine-run.sh PREFIX --init        creates or updates the prefix
set -e
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine downloads into a prefix that only runs test programs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
if [ "$1" = --init ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  # wineboot returns before the prefix is complete; wait for wineserver.
  wineserver=/usr/lib/wine/wineserver64
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver)
  "$wineserver" -w || true
  test -f "$WINEPREFIX/system.reg"
  exit
fi
exec "$wine" "$@"
