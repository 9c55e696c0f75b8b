#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
source "$root/scripts/wine-session.sh"
cd "$build"
ctest --output-on-failure "$@"
