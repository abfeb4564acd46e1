#!/usr/bin/env bash
# Installs what is missing, builds Ostrel and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh default
# Qt wants a private runtime directory; a session without one (a plain terminal, ssh, a
# container) gets one of its own instead of Qt's warning.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  runtime="${TMPDIR:-/tmp}/runtime-$(id -u)"
  mkdir -m 700 "$runtime" 2>/dev/null || true  # kept when it is there already
  if [ ! -d "$runtime" ] || [ ! -O "$runtime" ] || [ "$(stat -c %a "$runtime")" != 700 ]; then
    runtime=$(mktemp -d)  # taken by someone else or open to others: a fresh one, mode 0700
  fi
  export XDG_RUNTIME_DIR="$runtime"
fi
exec build/default/src/app/ostrel "$@"
