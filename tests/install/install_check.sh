#!/usr/bin/env bash
# The installed program, checked in a staging directory.
#
#   install_check.sh stage           cmake --install of the build tree, prefix /usr, DESTDIR the stage
#   install_check.sh tree            every file where it belongs, findable, readable by all
#   install_check.sh desktop_entry   the desktop entry passes desktop-file-validate
#   install_check.sh appstream       the AppStream metadata passes appstreamcli validate
#   install_check.sh man_pages       every manual page renders without a warning
#
# CTest passes the context in the environment (tests/install/CMakeLists.txt):
# OSTREL_INSTALL_STAGE, OSTREL_BUILD_DIR, OSTREL_CMAKE, OSTREL_CXX, OSTREL_PROGRAMS
# (file names, blank-separated), OSTREL_ICON_PNGS (yes/no), OSTREL_MAN_SOURCES,
# OSTREL_VERSION (the project's).
# Exit 0 passed, 1 failed, 77 skipped (a tool is missing).
set -uo pipefail

check=${1:?usage: install_check.sh stage|tree|desktop_entry|appstream|man_pages}
stage=${OSTREL_INSTALL_STAGE:?}
usr=$stage/usr
read -r -a programs <<<"${OSTREL_PROGRAMS:-}"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
skip() {
  echo "skipped: $*"
  exit 77
}
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures problem(s) in the installed tree under $stage" >&2; exit 1; }
  exit 0
}
need_stage() {
  [ -d "$usr" ] || { echo "nothing installed in $stage: install_stage did not run or failed" >&2; exit 1; }
}
# The value of key $2 in the [Desktop Entry] group of file $1.
desktop_value() {
  sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$2"'=//p}' "$1" | head -n 1
}
# Width and height of PNG $1, from its IHDR chunk: "16x16".
png_size() {
  local -a v
  read -r -a v < <(od -An -tu1 -j16 -N8 "$1")
  [ ${#v[@]} -eq 8 ] || return 1
  echo "$(((v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3]))x$(((v[4] << 24) | (v[5] << 16) | (v[6] << 8) | v[7]))"
}

case $check in
stage)
  case $stage in */stage) ;; *) echo "refusing to clear $stage (not a stage directory)" >&2; exit 1 ;; esac
  rm -rf "$stage"
  mkdir -p "$stage"
  log=$stage.log
  if ! DESTDIR=$stage "${OSTREL_CMAKE:?}" --install "${OSTREL_BUILD_DIR:?}" --prefix /usr >"$log" 2>&1; then
    cat "$log" >&2
    echo "FAIL: cmake --install of $OSTREL_BUILD_DIR (is the build complete? the install takes the programs and data from it)" >&2
    exit 1
  fi
  # Everything lands below DESTDIR and the prefix: nothing beside usr/.
  stray=$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)
  [[ -z $stray && -d $usr ]] || fail "installed outside the prefix /usr: ${stray:-no usr/ at all}"
  finish
  ;;

tree)
  need_stage
  [ ${#programs[@]} -gt 0 ] || fail "no program to check (OSTREL_PROGRAMS is empty)"
  for p in "${programs[@]}"; do
    [[ -f $usr/bin/$p && -x $usr/bin/$p ]] || fail "program bin/$p missing or not executable"
    [ -s "$usr/share/man/man1/$p.1.gz" ] || fail "manual page share/man/man1/$p.1.gz missing"
  done
  # The adapter header stands alone, for C and for C++.
  header=$usr/include/ostrel/ostrel_usb_module.h
  if [ ! -f "$header" ]; then
    fail "header include/ostrel/ostrel_usb_module.h missing"
  elif [ -n "${OSTREL_CXX:-}" ]; then
    for lang in c c++; do
      out=$(echo '#include <ostrel/ostrel_usb_module.h>
int (*check)(char *, uint32_t) = UsbFindModules;' |
        "$OSTREL_CXX" -x "$lang" -fsyntax-only -Wall -Wextra -Werror -I "$usr/include" - 2>&1) ||
        fail "the installed header does not compile alone as $lang: $out"
    done
  fi
  # The desktop entry starts an installed program and names an installed icon.
  desktop=$usr/share/applications/ostrel.desktop
  if [ ! -f "$desktop" ]; then
    fail "desktop entry share/applications/ostrel.desktop missing"
  else
    exec_program=$(desktop_value "$desktop" Exec)
    exec_program=${exec_program%% *}
    [[ -n $exec_program && -x $usr/bin/$exec_program ]] ||
      fail "the desktop entry's Exec '$exec_program' is not an installed program"
    icon=$(desktop_value "$desktop" Icon)
    [[ -n $icon && -f $usr/share/icons/hicolor/scalable/apps/$icon.svg ]] ||
      fail "the desktop entry's Icon '$icon' has no share/icons/hicolor/scalable/apps/$icon.svg"
  fi
  if [ "${OSTREL_ICON_PNGS:-no}" = yes ]; then
    for size in 16 22 24 32 48 64 128 256; do
      png=$usr/share/icons/hicolor/${size}x${size}/apps/${icon:-ostrel}.png
      if [ ! -f "$png" ]; then
        fail "icon ${size}x${size}/apps/${icon:-ostrel}.png missing"
      elif [ "$(png_size "$png")" != "${size}x${size}" ]; then
        fail "icon ${size}x${size}/apps/${icon:-ostrel}.png is $(png_size "$png" || echo 'not a PNG')"
      fi
    done
  fi
  # The AppStream metadata launches the installed desktop entry.
  metainfo=$usr/share/metainfo/io.github.ostrel.Ostrel.metainfo.xml
  if [ ! -f "$metainfo" ]; then
    fail "share/metainfo/io.github.ostrel.Ostrel.metainfo.xml missing"
  else
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [[ -n $launchable && -f $usr/share/applications/$launchable ]] ||
      fail "the metadata launches '$launchable', which is not installed in share/applications"
  fi
  # Every file that names a version names this one (a release changes them all).
  version=${OSTREL_VERSION:?}
  if [ -f "$metainfo" ]; then
    newest=$(grep -o -m1 '<release version="[^"]*"' "$metainfo")
    [ "$newest" = "<release version=\"$version\"" ] ||
      fail "the metadata's newest release is ${newest#*=}, not \"$version\""
  fi
  if [ -f "$usr/share/doc/ostrel/changelog.gz" ]; then
    head=$(zcat "$usr/share/doc/ostrel/changelog.gz" | head -n 1)
    [[ $head == "ostrel ($version) "* ]] || fail "the changelog begins with '$head', not version $version"
  fi
  for page in "$usr"/share/man/man1/*.1.gz; do
    [ -e "$page" ] || continue
    zcat "$page" | grep -q "^\.TH .* \"Ostrel $version\"" || fail "${page#"$usr"/} is not the page of Ostrel $version"
  done
  for doc in copyright changelog.gz; do
    [ -s "$usr/share/doc/ostrel/$doc" ] || fail "share/doc/ostrel/$doc missing"
  done
  for gz in "$usr"/share/man/man1/*.gz "$usr/share/doc/ostrel/changelog.gz"; do
    [ -e "$gz" ] || continue
    gzip -t "$gz" 2>/dev/null || fail "${gz#"$usr"/} is not valid gzip"
  done
  # Whoever installs it, everyone can read it: no file or directory closed to others or
  # writable by them.
  closed=$(find "$usr" \( -type f ! -perm -0444 \) -o \( -type d ! -perm -0555 \) -o -perm /0022)
  [ -z "$closed" ] || fail "wrong permissions: $closed"
  finish
  ;;

desktop_entry)
  need_stage
  command -v desktop-file-validate >/dev/null || skip "desktop-file-validate is missing (Debian package desktop-file-utils)"
  desktop=$usr/share/applications/ostrel.desktop
  [ -f "$desktop" ] || { fail "desktop entry share/applications/ostrel.desktop missing"; finish; }
  out=$(desktop-file-validate "$desktop" 2>&1)
  status=$?
  [ -z "$out" ] || echo "$out"
  # Errors fail, and so do warnings: both mean a desktop may ignore or misread the entry.
  if [ $status -ne 0 ] || grep -q -E 'error:|warning:' <<<"$out"; then
    fail "desktop-file-validate rejects ostrel.desktop"
  fi
  finish
  ;;

appstream)
  need_stage
  command -v appstreamcli >/dev/null || skip "appstreamcli is missing (Debian package appstream)"
  metainfo=$usr/share/metainfo/io.github.ostrel.Ostrel.metainfo.xml
  [ -f "$metainfo" ] || { fail "share/metainfo/io.github.ostrel.Ostrel.metainfo.xml missing"; finish; }
  out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) || { echo "$out"; fail "appstreamcli rejects the metadata"; }
  finish
  ;;

man_pages)
  need_stage
  command -v man >/dev/null || skip "man is missing (Debian package man-db)"
  command -v groff >/dev/null || skip "groff is missing (Debian package groff-base)"
  # Every installed page, and every page of the source tree (the pages of programs not built).
  pages=("$usr"/share/man/man1/*.1.gz)
  [ -e "${pages[0]}" ] || { fail "no manual page installed"; pages=(); }
  if [ -n "${OSTREL_MAN_SOURCES:-}" ]; then
    pages+=("$OSTREL_MAN_SOURCES"/*.1)
  fi
  for page in "${pages[@]}"; do
    [ -e "$page" ] || continue
    out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man --warnings -l $page:"$'\n'"$out"
    out=$(zcat -f "$page" | groff -t -man -ww -z 2>&1)
    [ -z "$out" ] || fail "groff -man -ww on $page:"$'\n'"$out"
    # whatis and apropos find the page by its NAME line.
    if command -v lexgrog >/dev/null; then
      lexgrog "$page" >/dev/null 2>&1 || fail "$page: no NAME line that whatis can read"
    fi
  done
  # Each program's page is its own: whatis lists it under the program's name.
  for p in "${programs[@]}"; do
    page=$usr/share/man/man1/$p.1.gz
    [ -f "$page" ] || continue
    if command -v lexgrog >/dev/null; then
      whatis=$(lexgrog "$page" 2>/dev/null)
      [[ $whatis == *": \"$p - "* ]] || fail "$page describes ${whatis#*: } instead of $p"
    fi
  done
  finish
  ;;

*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
