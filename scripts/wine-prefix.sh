#!/usr/bin/env bash
# Creates the Wine prefix once, with the null graphics driver so that windows
# can be created without a display; then, at every call, copies each DLL of the
# stage folder (stand-ins for Windows' own DLLs) into the prefix's system32,
# where Windows keeps the real ones.
#   wine-prefix.sh PREFIX [STAGE_FOLDER]
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX [STAGE_FOLDER]}
stage=${2:-}
export WINEPREFIX=$prefix WINEDEBUG=-all
if [ ! -f "$prefix/.qorn-ready" ]; then
  mkdir -p "$prefix"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$prefix/.qorn-ready"
fi
[ -n "$stage" ] || exit 0
system32=$prefix/drive_c/windows/system32
shopt -s nullglob
dlls=("$stage"/*.dll)
[ ${#dlls[@]} -gt 0 ] || { echo "wine-prefix.sh: no stand-in DLL in $stage" >&2; exit 1; }
for dll in "${dlls[@]}"; do
  # A new file renamed into place: a process that still maps the old one keeps it.
  name=$(basename "$dll" | tr 'A-Z' 'a-z')
  cp "$dll" "$system32/.$name.new"
  mv -f "$system32/.$name.new" "$system32/$name"
done
