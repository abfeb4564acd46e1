#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs to build, test and run.
# Idempotent and silent when everything is present; uses sudo when not root.
# Says one line per group it installs (what and why); apt's own output is kept in a
# log and shown only when the installation fails.
#
# Arguments add groups only some commands need:
#   fuzz     clang and its sanitizer runtime (libFuzzer), for the fuzzing build
#   package  dpkg-dev (dpkg-shlibdeps), for building the Debian package
#   lintian  lintian, for checking the Debian package
#   locale   locales and the de_DE.UTF-8 locale, for the suite's run under a decimal comma
#   format   clang-format, for formatting the code (scripts/format.sh)
#   display  xvfb, xauth and x11-utils, for the window benchmarks under a virtual display
set -euo pipefail

# One group a line: "why|packages". Every group is installed when missing.
groups=(
  "to build Ostrel|g++ cmake ninja-build pkg-config qt6-base-dev libqt6opengl6-dev libgl-dev nlohmann-json3-dev"
  # MATLAB 7.3 and HDF5 export (matio writes 7.3 through HDF5).
  "to export recordings to MATLAB and HDF5|libmatio-dev libhdf5-dev"
  # The window's platform plugins (xcb, wayland, offscreen), loaded at run time.
  "to show the window|qt6-qpa-plugins"
  "to draw the icon in its PNG sizes|librsvg2-bin"
  "for the test suite|libgtest-dev libgmock-dev"
  # An independent reader of the MATLAB and HDF5 exports.
  "to read the exports back in the test suite|python3-h5py python3-pandas"
  "for the test suite's install checks|desktop-file-utils appstream man-db groff-base"
  "for the benchmarks|libbenchmark-dev"
)
for extra in "$@"; do
  case $extra in
  fuzz) groups+=("for fuzzing|clang-14 libclang-rt-14-dev") ;;
  package) groups+=("to build the Debian package|dpkg-dev") ;;
  lintian) groups+=("to check the Debian package|lintian") ;;
  format) groups+=("to format the code|clang-format") ;;
  # A virtual display for looking at the real window without a desktop (the window benchmarks).
  display) groups+=("to show the window without a desktop|xvfb xauth x11-utils") ;;
  locale)
    groups+=("to run the suite under a decimal-comma locale|locales")
    comma_locale=de_DE.UTF-8
    ;;
  *) echo "install-deps: unknown group '$extra' (fuzz, package, lintian, locale, format, display)" >&2; exit 2 ;;
  esac
done

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The groups with something missing, and what is missing in each.
todo_why=()
todo_packages=()
for group in "${groups[@]}"; do
  why=${group%%|*}
  missing=()
  for p in ${group#*|}; do
    installed "$p" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    todo_why+=("$why")
    todo_packages+=("${missing[*]}")
  fi
done
# The decimal-comma locale, when asked for and not generated yet ("de_DE.utf8" in the list).
generate_locale=no
if [ -n "${comma_locale:-}" ] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  generate_locale=yes
fi
[ ${#todo_why[@]} -eq 0 ] && [ $generate_locale = no ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "install-deps: need root or sudo to install: ${todo_packages[*]}" >&2
    exit 1
  }
  sudo=(sudo)
fi
# Through sudo too: no questions, no "delaying package configuration" notes.
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Dpkg::Use-Pty=0)

log=$(mktemp "${TMPDIR:-/tmp}/ostrel-install-deps.XXXXXX")
trap 'rm -f "$log"' EXIT
# quietly WHAT COMMAND...: says what it does, runs the command with its output in the log,
# and on failure shows all of it.
quietly() {
  local what=$1
  shift
  echo "install-deps: $what"
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps: failed $what" >&2
    exit 1
  fi
}

if [ ${#todo_why[@]} -gt 0 ]; then
  quietly "updating Debian's package lists" "${apt[@]}" update
fi
for i in "${!todo_why[@]}"; do
  read -r -a packages <<<"${todo_packages[$i]}"
  quietly "installing ${packages[*]} (${todo_why[$i]})" \
    "${apt[@]}" install -y --no-install-recommends "${packages[@]}"
done
if [ $generate_locale = yes ]; then
  quietly "generating the locale $comma_locale (the suite's run under a decimal comma)" \
    "${sudo[@]}" localedef -i de_DE -f UTF-8 "$comma_locale"
fi
