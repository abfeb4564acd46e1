#!/usr/bin/env bash
# Builds Ostrel's Debian package build/package/ostrel_<version>_<arch>.deb: installs what
# is missing (dpkg-dev for dpkg-shlibdeps), builds the "package" preset (Release at Debian's
# -O2, prefix /usr, Debian's hardening flags, no tests or benchmarks) in build/package and runs
# `cpack -G DEB` there (stripped programs, dependencies from the shared libraries linked).
# With --lintian, also checks the package with lintian and fails on any error.
set -euo pipefail
cd "$(dirname "$0")/.."
lint=no
case "${1:-}" in
"") ;;
--lintian) lint=yes ;;
*) echo "usage: scripts/package.sh [--lintian]" >&2; exit 2 ;;
esac

if [ $lint = yes ]; then
  scripts/install-deps.sh package lintian
else
  scripts/install-deps.sh package
fi
scripts/build.sh package

dir=build/package
log=$dir/cpack.log
rm -f "$dir"/ostrel_*.deb
(cd "$dir" && cpack -G DEB) >"$log" 2>&1 || { cat "$log" >&2; echo "package: cpack failed" >&2; exit 1; }
debs=("$dir"/ostrel_*.deb)
[ -f "${debs[0]}" ] || { cat "$log" >&2; echo "package: cpack made no ostrel_*.deb" >&2; exit 1; }
deb=${debs[0]}
echo "package: $deb"

if [ $lint = yes ]; then
  # Errors fail; warnings and notes are shown (README, "Debian package", lists those kept).
  # (Its note that running as root is not recommended says nothing about the package.)
  lintian --fail-on error "$deb" 2> >(grep -v '^running with root privileges is not recommended!$' >&2) ||
    { echo "package: lintian found errors in $deb" >&2; exit 1; }
fi
