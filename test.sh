#!/usr/bin/env bash
# Installs what is missing, builds Ostrel and runs the whole test suite headless.
# With an argument, uses that CMake preset (default, asan, tsan).
set -euo pipefail
cd "$(dirname "$0")"
preset="${1:-default}"
scripts/install-deps.sh
scripts/build.sh "$preset"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$PWD/build/$preset/xdg-runtime}"
# --progress: on a terminal one line follows the run; failures and the summary stay.
exec ctest --preset "$preset" -j "$(nproc)" --progress
