#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
source "$root/scripts/wine-session.sh"
cd "$build"
# The reliability suite writes a table of what it tried and measured in this run.
table="$build/bin/reliability-table.txt"
rm -f "$table"
status=0
ctest --output-on-failure "$@" || status=$?
if [ -f "$table" ]; then cat "$table"; fi
exit "$status"
