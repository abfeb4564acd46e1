#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs to build, test and run.
# Idempotent and silent when everything is present; uses sudo when not root.
# With the argument "fuzz" it also installs clang and its sanitizer runtime
# (libFuzzer), which only the fuzzing build needs.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
)
# A virtual display for looking at the real window without a desktop.
optional=(xvfb xauth x11-utils)
if [ "${1:-}" = "fuzz" ]; then
  optional+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}" "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
