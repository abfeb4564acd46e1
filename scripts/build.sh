#!/usr/bin/env bash
# Configures (once) and builds one CMake preset. Shows the build's progress (one line kept
# up to date on a terminal, a line every quarter otherwise) and every warning and error in
# full; the whole output is kept in build/<preset>/last-build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
dir="build/$preset"
if [ ! -f "$dir/build.ninja" ]; then
  echo "build $preset: configuring"
  log=$(mktemp)
  cmake --preset "$preset" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
  rm -f "$log"
fi

tty=no
[ -t 1 ] && tty=yes
# Reads ninja's output: "[done/total] what" lines become the progress, the rest is shown.
show() {
  local line shown=no quarter=0 step total
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$dir/last-build.log"
    if [[ $line =~ ^\[([0-9]+)/([0-9]+)\]\  ]]; then
      step=${BASH_REMATCH[1]}
      total=${BASH_REMATCH[2]}
      if [ $tty = yes ]; then
        printf '\r\033[Kbuild %s: %d/%d' "$preset" "$step" "$total"
        shown=yes
      elif [ $((step * 4 / total)) -gt $quarter ]; then
        quarter=$((step * 4 / total))
        echo "build $preset: $step/$total steps"
      fi
    elif [[ $line =~ ^(ninja:\ (Entering|Leaving|no\ work)|--\ |Re-running\ CMake) ]]; then
      :
    else
      [ $shown = yes ] && printf '\r\033[K'
      shown=no
      printf '%s\n' "$line"
    fi
  done
  [ $shown = yes ] && printf '\r\033[K'
  return 0
}

: >"$dir/last-build.log"
set +e
cmake --build --preset "$preset" -- -j "$(nproc)" 2>&1 | show
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || echo "build $preset: failed (the whole output is in $dir/last-build.log)" >&2
exit "$status"
