#!/usr/bin/env bash
# Configures (once) and builds one CMake preset; prints only warnings and errors.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
if [ ! -f "build/$preset/build.ninja" ]; then
  log=$(mktemp)
  cmake --preset "$preset" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
  rm -f "$log"
fi
set +e
cmake --build --preset "$preset" -- -j "$(nproc)" 2>&1 | grep -v -E '^\[[0-9]+/[0-9]+\] |^ninja: (Entering|Leaving|no work)|^-- |^Re-running CMake'
status=${PIPESTATUS[0]}
set -e
exit "$status"
