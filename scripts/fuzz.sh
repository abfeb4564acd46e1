#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz, each for a given time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS: run time per target (default 60). TARGET: log_path, sim_config, name_list,
# record_format, log_header (default: all). Installs clang and libFuzzer (install-deps.sh fuzz),
# configures and builds the "fuzz" preset, then runs each target with a working corpus in
# build/fuzz/corpus/<target>, seeded from the committed tests/fuzz/corpus/<target>. Crashing
# inputs go to build/fuzz/crashes/<target>/, the fuzzer's output to build/fuzz/logs/<target>.log.
# Prints executions and crashes per target; exits non-zero when a target found a crash.
#
# Environment: OSTREL_FUZZ_JOBS=2 runs two targets at a time (one per core);
# OSTREL_FUZZ_FLAGS adds libFuzzer flags (e.g. "-max_len=4096").
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(log_path sim_config name_list record_format log_header)

seconds=60
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  if [[ ! " ${all_targets[*]} " =~ " ${target} " ]]; then
    echo "fuzz: unknown target \"$target\" (known: ${all_targets[*]})" >&2
    exit 2
  fi
done
jobs_at_once="${OSTREL_FUZZ_JOBS:-1}"
[[ "$jobs_at_once" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz: OSTREL_FUZZ_JOBS must be a number from 1" >&2; exit 2; }
read -r -a extra_flags <<<"${OSTREL_FUZZ_FLAGS:-}"

scripts/install-deps.sh fuzz

build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
  log=$(mktemp)
  cmake --preset fuzz >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
  rm -f "$log"
fi
build_targets=()
for target in "${targets[@]}"; do build_targets+=("fuzz_$target"); done
set +e
cmake --build --preset fuzz --target "${build_targets[@]}" -- -j "$(nproc)" 2>&1 |
  grep -v -E '^\[[0-9]+/[0-9]+\] |^ninja: (Entering|Leaving|no work)|^-- |^Re-running CMake'
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || exit "$status"

# Runs one target; its summary line goes to $build/logs/<target>.summary.
run_target() {
  local target=$1
  local corpus=$build/corpus/$target crashes=$build/crashes/$target log=$build/logs/$target.log
  mkdir -p "$corpus" "$crashes" "$build/logs"
  local before
  before=$(find "$crashes" -type f | wc -l)
  local started=$SECONDS
  set +e
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "${extra_flags[@]}" "$corpus" "tests/fuzz/corpus/$target" \
    >"$log" 2>&1
  local rc=$?
  set -e
  local executions crashes_found corpus_files
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  crashes_found=$(($(find "$crashes" -type f | wc -l) - before))
  corpus_files=$(find "$corpus" -type f | wc -l)
  local line
  line=$(printf '%-14s %12s executions in %4ds, corpus %5d files, crashes %d' \
    "$target" "${executions:-?}" "$((SECONDS - started))" "$corpus_files" "$crashes_found")
  if [ "$rc" -ne 0 ] || [ "$crashes_found" -gt 0 ]; then
    line+=" (exit $rc; see $log"
    [ "$crashes_found" -gt 0 ] && line+=", inputs in $crashes/"
    line+=")"
  fi
  echo "$line" >"$build/logs/$target.summary"
  echo "$line"
  [ "$rc" -eq 0 ] && [ "$crashes_found" -eq 0 ]
}

failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$jobs_at_once" -le 1 ]; then
    run_target "$target" || failed=1
    continue
  fi
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs_at_once" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: crashes found; replay one with $build/tests/fuzz/fuzz_<target> <input>" >&2
  exit 1
fi
