#!/usr/bin/env bash
# Creates the Wine prefix once, with the null graphics driver so that windows
# can be created without a display.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
[ -f "$prefix/.qorn-ready" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all
mkdir -p "$prefix"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w
touch "$prefix/.qorn-ready"
