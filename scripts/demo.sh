#!/usr/bin/env bash
# Builds both deliverables and runs a whole host session on the simulated display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
source "$root/scripts/wine-session.sh"
cd "$build/bin"
"$WINE" demo.exe
