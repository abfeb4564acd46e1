#!/usr/bin/env bash
# Installs what is missing, builds Ostrel and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh default
exec build/default/src/app/ostrel "$@"
