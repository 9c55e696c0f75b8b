# Sourced by the scripts: Wine settings for the programs in the build's bin folder.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QORN_BUILD_DIR:-$root/build}
export WINE=/usr/lib/wine/wine64
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="bluetoothapis=n"
