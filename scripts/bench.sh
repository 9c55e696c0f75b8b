#!/usr/bin/env bash
# Builds everything and runs the benchmark under Wine; prints its table.
# Arguments go to the benchmark (--quick for a short run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
source "$root/scripts/wine-session.sh"
cd "$build/bin"
"$WINE" bench.exe "$@"
