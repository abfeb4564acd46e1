#!/usr/bin/env bash
# The full soak and fault run: builds ostrel_soak in the default preset and runs it with
# CYCLES START/STOP cycles (1000 unless given), printing its table and how long it took.
# Further arguments go to ostrel_soak (--seed S). OSTREL_SOAK_BUILD_DIR=<dir> uses another
# configured build directory instead of build/default.
#   scripts/soak.sh [CYCLES] [--seed S]
set -euo pipefail
cd "$(dirname "$0")/.."
cycles="${1:-1000}"
[ $# -gt 0 ] && shift
case "$cycles" in
  '' | *[!0-9]*) echo "usage: scripts/soak.sh [CYCLES] [--seed S]" >&2; exit 2 ;;
esac
build="${OSTREL_SOAK_BUILD_DIR:-build/default}"
if [ ! -f "$build/build.ninja" ]; then
  [ "$build" = build/default ] || { echo "soak: $build is not a configured build" >&2; exit 2; }
  cmake --preset default >/dev/null
fi
set +e
cmake --build "$build" --target ostrel_soak -- -j 2 2>&1 |
  grep -v -E '^\[[0-9]+/[0-9]+\] |^ninja: (Entering|Leaving|no work)'
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || exit "$status"
export OSTREL_SIM=
start=$SECONDS
status=0
"$build/tests/soak/ostrel_soak" --cycles "$cycles" "$@" || status=$?
echo "soak: $((SECONDS - start)) s, exit status $status"
exit "$status"
