#!/usr/bin/env bash
# Installs what is missing, builds Ostrel and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh default
# A session without XDG_RUNTIME_DIR: the program gives Qt a private runtime directory itself.
exec build/default/src/app/ostrel "$@"
