#!/usr/bin/env bash
# Configures and builds every target (deliverables, stand-ins, tests, demo, benchmarks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QORN_BUILD_DIR:-$root/build}

"$root/scripts/install-packages.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" -- --no-print-directory >/dev/null
echo "Built: $build/bin"
