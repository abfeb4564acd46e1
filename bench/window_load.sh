#!/usr/bin/env bash
# window_load.sh: CPU and memory of Ostrel's window under Xvfb; builds nothing itself.
#
#   bench/window_load.sh [bench|program|all|playback] [BUILD_DIR] [SECONDS] [MEGABYTES]
#
#   bench    runs BUILD_DIR/bench/window_load_bench SECONDS: the program's window idle, then
#            measuring SIM-STEER with charts (idle <= 0.2 %, measuring <= 1 % of one core,
#            peak RSS <= 100 MB)
#   program  runs the real BUILD_DIR/src/app/ostrel idle for SECONDS and reads its
#            /proc/<pid>/stat and status from outside (idle <= 0.5 %, peak RSS <= 100 MB),
#            then ends it with SIGTERM
#   all      both (the default)
#   playback the peak resident memory of window_load_bench measuring SIM-STEER live against
#            the same window playing back a recording of MEGABYTES MB (default 2048; written
#            by BUILD_DIR/bench/recording_gen as a 640 kbps steering recording, 32 words a
#            frame like SIM-STEER, in a scratch directory removed afterwards), charts on in
#            both (goal: playing costs at most 32 MB more); not part of `all`
#
# BUILD_DIR defaults to build/default, SECONDS to 10. Build first, e.g.
#   ninja -C build/default -j2 window_load_bench ostrel recording_gen
# Needs xvfb-run (Debian package xvfb, installed by scripts/install-deps.sh display). Each run gets a
# private XDG_RUNTIME_DIR and working directory, removed afterwards. Exit status 0 only when
# every goal is met.
set -euo pipefail

readonly IDLE_GOAL_PERCENT=0.2
readonly RSS_GOAL_MB=100
readonly START_SETTLE_SECONDS=3  # the program's start-up, before the idle phase counts
readonly PLAYBACK_EXTRA_GOAL_MB=32
readonly STEERING_TYPE=4  # Steering Personal Car 100 Nm: 32 words at 640 kbps, as SIM-STEER

usage() {
    echo "usage: $0 [bench|program|all|playback] [BUILD_DIR] [SECONDS] [MEGABYTES]" >&2
    exit 2
}

# utime + stime of a process, in clock ticks.
cpu_ticks() {
    local stat rest
    stat=$(<"/proc/$1/stat")
    rest=${stat##*) }
    local -a fields
    read -ra fields <<<"$rest"
    echo $((fields[11] + fields[12]))
}

status_kb() {  # status_kb PID FIELD
    awk -v field="$2:" '$1 == field { print $2 }' "/proc/$1/status"
}

now() { date +%s.%N; }

verdict() {  # verdict VALUE GOAL: PASS when VALUE <= GOAL
    awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "PASS" : "FAIL" }'
}

# Inside Xvfb: the real program, idle.
measure_program() {
    local ostrel=$1 seconds=$2 pid
    "$ostrel" &
    pid=$!
    sleep "$START_SETTLE_SECONDS"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "FAIL: ostrel ended during start-up" >&2
        return 1
    fi
    local ticks0 wall0 ticks1 wall1 hwm rss
    ticks0=$(cpu_ticks "$pid")
    wall0=$(now)
    sleep "$seconds"
    ticks1=$(cpu_ticks "$pid")
    wall1=$(now)
    hwm=$(status_kb "$pid" VmHWM)
    rss=$(status_kb "$pid" VmRSS)
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    local cpu hwm_mb rss_mb
    cpu=$(awk -v t="$((ticks1 - ticks0))" -v hz="$(getconf CLK_TCK)" -v a="$wall0" -v b="$wall1" \
        'BEGIN { printf "%.2f", 100 * t / hz / (b - a) }')
    hwm_mb=$(awk -v k="$hwm" 'BEGIN { printf "%.1f", k / 1024 }')
    rss_mb=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
    local cpu_ok rss_ok
    cpu_ok=$(verdict "$cpu" "$IDLE_GOAL_PERCENT")
    rss_ok=$(verdict "$hwm_mb" "$RSS_GOAL_MB")
    echo "ostrel idle for ${seconds}s (pid $pid, ticks $((ticks1 - ticks0)) at $(getconf CLK_TCK)/s):"
    printf '%-32s %8s %%         goal <= %6s %%         %s\n' "CPU idle (% of one core)" \
        "$cpu" "$IDLE_GOAL_PERCENT" "$cpu_ok"
    printf '%-32s %8s MB        goal <= %6s MB        %s\n' "peak resident memory (VmHWM)" \
        "$hwm_mb" "$RSS_GOAL_MB" "$rss_ok"
    echo "resident memory at the end (VmRSS): ${rss_mb} MB"
    [[ $cpu_ok == PASS && $rss_ok == PASS ]]
}

# Runs "$@" under Xvfb with a private runtime and working directory.
under_xvfb() {
    local scratch status=0
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-window-load.XXXXXX")
    mkdir -m 700 "$scratch/runtime"
    (cd "$scratch" && XDG_RUNTIME_DIR="$scratch/runtime" xvfb-run -a "$@") || status=$?
    rm -rf "$scratch"
    return "$status"
}

# The "peak resident memory" figure of a window_load_bench run's report, in MB.
peak_of() {
    awk '/^peak resident memory/ { print $5 }' "$1"
}

# window_load_bench live, then playing a recording of MEGABYTES MB; the two peaks compared.
measure_playback() {
    local build_dir=$1 seconds=$2 megabytes=$3
    local bench=$build_dir/bench/window_load_bench generate=$build_dir/bench/recording_gen
    [[ -x $bench && -x $generate ]] ||
        { echo "build it first: ninja -C $build_dir window_load_bench recording_gen" >&2; exit 2; }
    recordings=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-playback-memory.XXXXXX")  # global: the trap's
    trap 'rm -rf "$recordings"' EXIT
    "$generate" "$recordings/jex-log-playback.dat" "$megabytes" "$STEERING_TYPE" >/dev/null
    echo "== window_load_bench live, ${seconds}s per phase"
    under_xvfb "$bench" "$seconds" | tee "$recordings/live.txt" || true
    echo "== window_load_bench playing ${megabytes} MB, ${seconds}s per phase"
    local started=$SECONDS
    under_xvfb "$bench" --replay "$recordings/jex-log-playback.dat" "$seconds" |
        tee "$recordings/playing.txt" || true
    echo "(the playback run took $((SECONDS - started)) s with loading the recording)"
    local live playing extra verdict_text
    live=$(peak_of "$recordings/live.txt")
    playing=$(peak_of "$recordings/playing.txt")
    [[ -n $live && -n $playing ]] || { echo "FAIL: a run gave no peak memory" >&2; return 1; }
    extra=$(awk -v a="$playing" -v b="$live" 'BEGIN { printf "%.2f", a - b }')
    verdict_text=$(verdict "$extra" "$PLAYBACK_EXTRA_GOAL_MB")
    printf '%-32s %8s MB live, %s MB playing %s MB\n' "peak resident memory (VmHWM)" \
        "$live" "$playing" "$megabytes"
    printf '%-32s %8s MB        goal <= %6s MB        %s\n' "playing over live" "$extra" \
        "$PLAYBACK_EXTRA_GOAL_MB" "$verdict_text"
    [[ $verdict_text == PASS ]]
}

main() {
    if [[ ${1:-} == __program ]]; then
        measure_program "$2" "$3"
        return
    fi
    local mode=all
    case ${1:-} in
        bench | program | all | playback) mode=$1; shift ;;
        -h | --help) usage ;;
    esac
    local build_dir=${1:-build/default} seconds=${2:-10}
    [[ $seconds =~ ^[1-9][0-9]*$ ]] || usage
    "$(dirname "$0")/../scripts/install-deps.sh" display
    command -v xvfb-run >/dev/null || {
        echo "xvfb-run is missing: install Debian's xvfb (scripts/install-deps.sh display)" >&2
        exit 2
    }
    build_dir=$(cd "$build_dir" && pwd) || exit 2
    if [[ $mode == playback ]]; then
        local megabytes=${3:-2048}
        [[ $megabytes =~ ^[1-9][0-9]*$ ]] || usage
        measure_playback "$build_dir" "$seconds" "$megabytes"
        return
    fi
    local bench=$build_dir/bench/window_load_bench ostrel=$build_dir/src/app/ostrel
    local self status=0
    self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
    if [[ $mode != program ]]; then
        [[ -x $bench ]] || { echo "build it first: ninja -C $build_dir window_load_bench" >&2; exit 2; }
        echo "== window_load_bench, ${seconds}s per phase"
        under_xvfb "$bench" "$seconds" || status=1
    fi
    if [[ $mode != bench ]]; then
        [[ -x $ostrel ]] || { echo "build it first: ninja -C $build_dir ostrel" >&2; exit 2; }
        echo "== ostrel idle"
        under_xvfb "$self" __program "$ostrel" "$seconds" || status=1
    fi
    return "$status"
}

main "$@"
