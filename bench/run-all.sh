#!/usr/bin/env bash
# run-all.sh: builds the benchmarks in Release and runs them all, then prints every figure
# beside its goal in one table.
#
#   bench/run-all.sh [--build-dir DIR] [--e2e-seconds N] [--window-seconds N] [--runs N]
#                    [--no-build]
#
#   --build-dir DIR       Release build directory (default build/release). It is configured
#                         with  cmake -S . -B DIR -G Ninja -DCMAKE_BUILD_TYPE=Release
#                         -DOSTREL_BUILD_TESTS=OFF  and only the benchmarks and ostrel are
#                         built, two jobs at a time.
#   --e2e-seconds N       streaming time per directory of end_to_end_bench (default 5, <= 60)
#   --window-seconds N    each phase of bench/window_load.sh (default 10, <= 300)
#   --runs N              start-up runs, in-process and of the real ostrel (default 5, <= 50)
#   --no-build            use what DIR holds
#
# What runs, in this order:
#   usb_bench            one fast-paced simulated module read as the acquisition reads it
#   record_writer_bench  one logged cycle turned into text: formatCycle + write against an
#                        fprintf per field (5 repetitions; the medians of the CPU time, which
#                        other load on the machine disturbs less than the wall time)
#   end_to_end_bench     START to STOP with logging on tmpfs (/dev/shm) and on local disk
#                        (DIR/bench); raw MB/s against the USB 2.0 bulk ceiling 53.248 MB/s
#   window_load.sh all   CPU idle and measuring, peak resident memory, under Xvfb
#   stop_latency_bench   STOP at 40, 160, 320 and 640 kbps: answer, restart, second STOP
#   start-up             startup_bench (in-process: process start -> panel window painted)
#                        and the real ostrel seen from outside (its launch -> its window
#                        mapped, polled with xwininfo), RUNS each under one Xvfb; medians
#   convert_bench.sh     ostrel-convert on a 512 MB 32-channel recording in /tmp: --summary
#                        against pandas, the CSV table, the MATLAB and HDF5 exports (MB/s
#                        of input, peak memory against a tenth of the file)
#
# Every benchmark runs under `timeout`; the log directories end_to_end_bench creates are
# removed by the bench itself, and any it leaves behind (a killed run) by this script.
# Needs cmake, ninja, xvfb-run and xwininfo (x11-utils). Exit status 0 only when every
# figure meets its goal.
set -euo pipefail

readonly USB2_CEILING_MBS=53.248
# One logged cycle is 32768 words = 65536 raw bytes; at the USB 2.0 ceiling one arrives
# every 65536 / 53.248e6 s. Turning it into text must take less than that.
readonly CYCLE_BYTES=65536
readonly IDLE_GOAL_PERCENT=0.2
readonly MEASURING_GOAL_PERCENT=1
readonly RSS_GOAL_MB=100
readonly STARTUP_GOAL_MS=1000  # chosen here: no goal is written down for the start-up
readonly PANEL_TITLE="Ostrel V1.3.1"
readonly BENCH_TARGETS=(usb_bench record_writer_bench end_to_end_bench stop_latency_bench
    window_load_bench startup_bench ostrel ostrel-convert recording_gen)

usage() {
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

die() {
    echo "run-all: $*" >&2
    exit 2
}

# ---------------------------------------------------------------------------------------
# Start-up, inside Xvfb (this script calls itself as: run-all.sh __startup BUILD_DIR RUNS)
# ---------------------------------------------------------------------------------------

now_ns() { date +%s%N; }

# The real program, from outside: launch to its window mapped (viewable) on the X server.
startup_outside_once() {
    local ostrel=$1 pid t0 t1 deadline
    t0=$(now_ns)
    "$ostrel" >/dev/null 2>&1 &
    pid=$!
    deadline=$((t0 + 20000000000))
    while ! xwininfo -name "$PANEL_TITLE" 2>/dev/null | grep -q IsViewable; do
        if ! kill -0 "$pid" 2>/dev/null; then
            local status=0
            wait "$pid" 2>/dev/null || status=$?
            echo "ostrel ended (status $status) before its window was shown"
            echo "outside_ms=FAIL"
            return
        fi
        if (($(now_ns) > deadline)); then
            kill -TERM "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            echo "ostrel showed no window within 20 s"
            echo "outside_ms=FAIL"
            return
        fi
    done
    t1=$(now_ns)
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v d="$((t1 - t0))" 'BEGIN { printf "outside_ms=%.1f\n", d / 1e6 }'
}

startup_runs() {
    local build=$1 runs=$2 i line
    for ((i = 0; i < runs; ++i)); do
        line=$("$build/bench/startup_bench" 2>&1 | grep -e '^RESULT' -e FAIL || true)
        if [[ $line =~ process_to_painted_ms=([0-9.]+) ]]; then
            echo "inside_ms=${BASH_REMATCH[1]}"
        else
            echo "startup_bench: ${line:-no result}"
            echo "inside_ms=FAIL"
        fi
    done
    for ((i = 0; i < runs; ++i)); do
        startup_outside_once "$build/src/app/ostrel"
    done
}

# ---------------------------------------------------------------------------------------
# Helpers
# ---------------------------------------------------------------------------------------

# The median of numbers on stdin (FAIL when any line is not a number or none is given).
median() {
    sort -g | awk '
        !/^[0-9.]+$/ { bad = 1 }
        { v[NR] = $1 }
        END {
            if (bad || NR == 0) { print "FAIL"; exit }
            print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        }'
}

# at_most VALUE GOAL / at_least VALUE GOAL: PASS or FAIL (FAIL for a missing value).
at_most() { awk -v v="$1" -v g="$2" 'BEGIN { print (v ~ /^[0-9.]+$/ && v + 0 <= g + 0) ? "PASS" : "FAIL" }'; }
at_least() { awk -v v="$1" -v g="$2" 'BEGIN { print (v ~ /^[0-9.]+$/ && v + 0 >= g + 0) ? "PASS" : "FAIL" }'; }

SUMMARY=()
summary() {  # summary FIGURE VALUE GOAL VERDICT
    SUMMARY+=("$(printf '%-44s %-38s %-28s %s' "$1" "$2" "$3" "$4")")
}
fail_rows() { printf '%s\n' "${SUMMARY[@]}" | grep -c 'FAIL$' || true; }

# A benchmark that failed for a reason none of its figures shows (a check of its own, a
# crash, a timeout) gets a row of its own.
exit_status_row() {  # exit_status_row NAME STATUS FAIL_ROWS_BEFORE
    if (($2 != 0)) && (($(fail_rows) == $3)); then
        summary "$1 exit status (see its output)" "$2" "0" FAIL
    fi
}

within() { [[ $1 =~ ^[1-9][0-9]*$ ]] && (($1 <= $2)); }  # within N MAX: 1 <= N <= MAX

section() { printf '\n======== %s\n' "$*"; }

# The value of KEY in the Google Benchmark JSON object named NAME (one key per line).
json_field() {  # json_field FILE NAME KEY
    awk -v want="\"$2\"" -v key="\"$3\":" '
        $1 == "\"name\":" { name = $2; sub(/,$/, "", name) }
        name == want && $1 == key { v = $2; sub(/,$/, "", v); gsub(/"/, "", v); print v; exit }
    ' "$1"
}

# Microseconds of a Google Benchmark time in UNIT.
to_us() { awk -v t="$1" -v u="$2" 'BEGIN {
    f = (u == "ns") ? 0.001 : (u == "us") ? 1 : (u == "ms") ? 1000 : (u == "s") ? 1e6 : -1
    if (t == "" || f < 0) print "FAIL"; else printf "%.1f", t * f }'; }

# ---------------------------------------------------------------------------------------
# The benchmarks
# ---------------------------------------------------------------------------------------

run_usb() {
    section "usb_bench: one fast-paced module read through a ring of 16 reads"
    local json=$SCRATCH/usb.json status=0 fails
    fails=$(fail_rows)
    timeout --kill-after=10 300 "$BUILD/bench/usb_bench" --benchmark_color=false \
        --benchmark_out="$json" --benchmark_out_format=json 2>&1 | grep -v '^\*\*\*WARNING' ||
        status=$?
    local name bytes lost mbs
    for name in BM_FastRing8Words BM_FastRing32Words BM_FastRingSteering; do
        bytes=$(json_field "$json" "$name" bytes_per_second 2>/dev/null || true)
        lost=$(json_field "$json" "$name" lost_frames 2>/dev/null || true)
        lost=$(awk -v l="$lost" 'BEGIN { if (l == "") print "?"; else printf "%d", l }')
        mbs=$(awk -v b="$bytes" 'BEGIN { if (b == "") print "FAIL"; else printf "%.0f", b / 1e6 }')
        local verdict
        verdict=$(at_least "$mbs" "$USB2_CEILING_MBS")
        [[ $lost == 0 ]] || verdict=FAIL
        summary "module read, $name" "$mbs MB/s, $lost frames lost" \
            ">= $USB2_CEILING_MBS MB/s, 0 lost" "$verdict"
    done
    exit_status_row usb_bench "$status" "$fails"
}

run_record_writer() {
    section "record_writer_bench: one logged cycle to text (5 repetitions, medians)"
    local json=$SCRATCH/record.json status=0 fails
    fails=$(fail_rows)
    timeout --kill-after=10 600 "$BUILD/bench/record_writer_bench" --benchmark_color=false \
        --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
        --benchmark_out="$json" --benchmark_out_format=json 2>&1 | grep -v '^\*\*\*WARNING' ||
        status=$?
    local cycle_us
    cycle_us=$(awk -v b="$CYCLE_BYTES" -v c="$USB2_CEILING_MBS" 'BEGIN { printf "%.0f", b / c }')
    echo
    echo "CPU time per cycle (32768 words, median): formatCycle + one write vs an fprintf per"
    echo "field; a cycle arrives every ${cycle_us} us at the USB 2.0 ceiling"
    printf '%-10s %16s %16s %10s\n' "type" "writer us/cycle" "fprintf us/cycle" "speed-up"
    local words ours theirs ratio verdict
    for words in 4 32; do
        ours=$(to_us "$(json_field "$json" "formatAndWrite/${words}_median" cpu_time)" \
            "$(json_field "$json" "formatAndWrite/${words}_median" time_unit)")
        theirs=$(to_us "$(json_field "$json" "fprintfPerField/${words}_median" cpu_time)" \
            "$(json_field "$json" "fprintfPerField/${words}_median" time_unit)")
        ratio=$(awk -v a="$ours" -v b="$theirs" \
            'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.1f", b / a; else print "FAIL" }')
        printf '%-10s %16s %16s %9sx\n' "$words/frame" "$ours" "$theirs" "$ratio"
        verdict=$(at_most "$ours" "$cycle_us")
        [[ $(at_least "$ratio" 1) == PASS ]] || verdict=FAIL
        summary "record writer, $words words/frame, per cycle" \
            "$ours us (fprintf $theirs us, ${ratio}x)" "<= $cycle_us us, < fprintf" "$verdict"
    done
    exit_status_row record_writer_bench "$status" "$fails"
}

# Log directories end_to_end_bench makes (it removes its own; a killed run leaves them).
e2e_leftovers() { ls -d /dev/shm/ostrel-e2e-* "$BUILD"/bench/ostrel-e2e-* 2>/dev/null || true; }

run_end_to_end() {
    section "end_to_end_bench: START to STOP with logging, ${E2E_SECONDS}s per directory"
    local before out=$SCRATCH/e2e.txt status=0 fails
    fails=$(fail_rows)
    before=$(e2e_leftovers)
    timeout --kill-after=10 $((2 * (E2E_SECONDS + 90))) "$BUILD/bench/end_to_end_bench" \
        "$E2E_SECONDS" /dev/shm "$BUILD/bench" >"$out" 2>&1 || status=$?
    cat "$out"
    local left
    for left in $(e2e_leftovers); do  # only what this run left behind
        grep -qxF "$left" <<<"$before" || rm -rf -- "$left"
    done
    local where fs raw ratio result dir
    # Rows: fs, ring s, cycles, raw MB/s, x USB2, ..., result, directory.
    while read -r fs _ _ raw ratio _ _ _ _ _ result dir; do
        case $dir in
            /dev/shm/*) where="tmpfs /dev/shm" ;;
            *) where="local disk ($fs)" ;;
        esac
        summary "end to end with logging, $where" "$raw MB/s = ${ratio}x USB 2.0" \
            ">= $USB2_CEILING_MBS MB/s (1.00x)" "$([[ $result == PASS ]] && echo PASS || echo FAIL)"
    done < <(awk '/^fs +ring s/ { table = 1; next } table && NF >= 12 { print }' "$out")
    grep -q '^fs ' "$out" || summary "end to end with logging" "no result" \
        ">= $USB2_CEILING_MBS MB/s" FAIL
    exit_status_row end_to_end_bench "$status" "$fails"
    sync  # its gigabytes of log data leave the page cache before the CPU shares are taken
    sleep 3
}

run_stop_latency() {
    section "stop_latency_bench: STOP at every link speed (real-time modules, about 45 s)"
    local out=$SCRATCH/stop.txt status=0 fails
    fails=$(fail_rows)
    timeout --kill-after=10 180 "$BUILD/bench/stop_latency_bench" >"$out" 2>&1 || status=$?
    cat "$out"
    local kbps answer restart cycle second limit
    while read -r _ kbps answer restart cycle second; do
        limit=$(awk -v c="$cycle" 'BEGIN { printf "%.0f", c + 100 }')
        summary "STOP -> window answers, $kbps kbps" "$answer ms" "<= 200 ms" \
            "$(at_most "$answer" 200)"
        summary "STOP -> START usable, $kbps kbps" "$restart ms (cycle $cycle ms)" \
            "<= rest of cycle + 100 ms ($limit)" "$(at_most "$restart" "$limit")"
        summary "second STOP -> START usable, $kbps kbps" "$second ms" "<= 200 ms" \
            "$(at_most "$second" 200)"
    done < <(grep '^RESULT ' "$out")
    grep -q '^RESULT ' "$out" || summary "STOP latency" "no result" "" FAIL
    exit_status_row stop_latency_bench "$status" "$fails"
}

# A goal line of window_load_bench or window_load.sh: "<label, 32 wide> VALUE UNIT goal ...".
window_figure() {  # window_figure FILE SECTION LABEL
    awk -v part="$2" -v label="$3" '
        /^== / { inside = index($0, part) > 0; next }
        inside && index($0, label) == 1 { split(substr($0, 33), f, " "); print f[1]; exit }
    ' "$1"
}

run_window_load() {
    section "window_load.sh all: CPU and memory under Xvfb, ${WINDOW_SECONDS}s per phase"
    local out=$SCRATCH/window.txt status=0 fails
    fails=$(fail_rows)
    timeout --kill-after=10 $((4 * WINDOW_SECONDS + 240)) bench/window_load.sh all "$BUILD" \
        "$WINDOW_SECONDS" >"$out" 2>&1 || status=$?
    grep -v -e '^QStandardPaths' "$out" || true
    local bench_part="== window_load_bench" program_part="== ostrel idle" v
    v=$(window_figure "$out" "$bench_part" "CPU idle")
    summary "window_load_bench: CPU idle" "${v:-?} % of one core" "<= $IDLE_GOAL_PERCENT %" \
        "$(at_most "$v" "$IDLE_GOAL_PERCENT")"
    v=$(window_figure "$out" "$bench_part" "CPU measuring")
    summary "window_load_bench: CPU measuring SIM-STEER" "${v:-?} % of one core" \
        "<= $MEASURING_GOAL_PERCENT %" "$(at_most "$v" "$MEASURING_GOAL_PERCENT")"
    v=$(window_figure "$out" "$bench_part" "peak resident memory")
    summary "window_load_bench: peak resident memory" "${v:-?} MB" "<= $RSS_GOAL_MB MB" \
        "$(at_most "$v" "$RSS_GOAL_MB")"
    v=$(window_figure "$out" "$program_part" "CPU idle")
    summary "ostrel: CPU idle" "${v:-?} % of one core" "<= $IDLE_GOAL_PERCENT %" \
        "$(at_most "$v" "$IDLE_GOAL_PERCENT")"
    v=$(window_figure "$out" "$program_part" "peak resident memory")
    summary "ostrel: peak resident memory" "${v:-?} MB" "<= $RSS_GOAL_MB MB" \
        "$(at_most "$v" "$RSS_GOAL_MB")"
    exit_status_row window_load.sh "$status" "$fails"
}

run_startup() {
    section "start-up: process start to the window on screen, $RUNS runs each under Xvfb"
    local out=$SCRATCH/startup.txt status=0 work=$SCRATCH/startup-work fails
    fails=$(fail_rows)
    mkdir -p "$work/runtime"
    chmod 700 "$work/runtime"
    # -noreset: the X server must not reset when its last client leaves; the polling
    # xwininfo is often that client, and a program connecting during a reset fails to start.
    (cd "$work" && XDG_RUNTIME_DIR="$work/runtime" timeout --kill-after=10 $((30 * RUNS + 60)) \
        xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$SELF" __startup "$BUILD" "$RUNS") \
        >"$out" 2>&1 || status=$?
    grep -v -e '^inside_ms=' -e '^outside_ms=' -e '^QStandardPaths' "$out" || true
    local inside outside
    inside=$(sed -n 's/^inside_ms=//p' "$out")
    outside=$(sed -n 's/^outside_ms=//p' "$out")
    echo "startup_bench, process start -> panel window painted (ms): $(tr '\n' ' ' <<<"$inside")"
    echo "ostrel, launch -> window mapped, seen with xwininfo (ms):  $(tr '\n' ' ' <<<"$outside")"
    local m
    m=$(median <<<"$inside")
    summary "start-up to window painted (startup_bench)" "$m ms (median of $RUNS)" \
        "<= $STARTUP_GOAL_MS ms (chosen)" "$(at_most "$m" "$STARTUP_GOAL_MS")"
    m=$(median <<<"$outside")
    summary "start-up to window mapped (ostrel, outside)" "$m ms (median of $RUNS)" \
        "<= $STARTUP_GOAL_MS ms (chosen)" "$(at_most "$m" "$STARTUP_GOAL_MS")"
    exit_status_row "start-up runs" "$status" "$fails"
}

run_convert() {
    section "convert_bench.sh: ostrel-convert on a 512 MB 32-channel recording"
    local out=$SCRATCH/convert.txt status=0 fails
    fails=$(fail_rows)
    timeout --kill-after=10 900 bench/convert_bench.sh --build-dir "$BUILD" --no-build \
        >"$out" 2>&1 || status=$?
    cat "$out"
    # Its goal lines: printf '%-46s %-12s %-14s %s' of figure, value, goal, PASS or FAIL.
    local figure value goal verdict
    while IFS=$'\t' read -r figure value goal verdict; do
        summary "ostrel-convert: $figure" "$value" "$goal" "$verdict"
    done < <(awk '
        function trim(t) { sub(/^ +/, "", t); sub(/ +$/, "", t); return t }
        / (PASS|FAIL)$/ && length($0) > 75 {
            printf "%s\t%s\t%s\t%s\n", trim(substr($0, 1, 46)), trim(substr($0, 48, 12)),
                trim(substr($0, 61, 14)), $NF }' "$out")
    grep -qE ' (PASS|FAIL)$' "$out" || summary "ostrel-convert" "no result" "" FAIL
    exit_status_row convert_bench.sh "$status" "$fails"
}

# ---------------------------------------------------------------------------------------

main() {
    if [[ ${1:-} == __startup ]]; then
        startup_runs "$2" "$3"
        return
    fi
    local build=build/release no_build=0
    E2E_SECONDS=5 WINDOW_SECONDS=10 RUNS=5
    while (($#)); do
        case $1 in
            --build-dir) build=${2:?}; shift 2 ;;
            --e2e-seconds) E2E_SECONDS=${2:?}; shift 2 ;;
            --window-seconds) WINDOW_SECONDS=${2:?}; shift 2 ;;
            --runs) RUNS=${2:?}; shift 2 ;;
            --no-build) no_build=1; shift ;;
            *) usage ;;
        esac
    done
    if ! within "$E2E_SECONDS" 60 || ! within "$WINDOW_SECONDS" 300 || ! within "$RUNS" 50; then
        usage
    fi
    SELF=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
    cd "$(dirname "$0")/.."
    scripts/install-deps.sh display
    local tool
    for tool in cmake ninja xvfb-run xwininfo timeout; do
        command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh; xwininfo: x11-utils)"
    done
    SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-run-all.XXXXXX")
    trap 'rm -rf "$SCRATCH"' EXIT
    if ((!no_build)); then
        section "build: Release in $build (${BENCH_TARGETS[*]})"
        local log=$SCRATCH/build.log
        if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DOSTREL_BUILD_TESTS=OFF >"$log" 2>&1; then
            tail -n 40 "$log"
            die "configuring $build failed"
        fi
        if ! ninja -C "$build" -j2 "${BENCH_TARGETS[@]}" >"$log" 2>&1; then
            tail -n 40 "$log"
            die "building failed"
        fi
        tail -n 1 "$log"
    fi
    BUILD=$(cd "$build" && pwd) || die "no build directory $build"
    local load_before
    load_before=$(cut -d' ' -f1 /proc/loadavg)
    echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

    run_usb
    run_record_writer
    run_end_to_end
    run_stop_latency
    run_window_load
    run_startup
    run_convert

    section "summary"
    printf '%-44s %-38s %-28s %s\n' "figure" "value" "goal" "result"
    printf '%s\n' "${SUMMARY[@]}"
    local load_after
    load_after=$(cut -d' ' -f1 /proc/loadavg)
    echo "load average (1 min): $load_before at the start, $load_after at the end, $(nproc) cores"
    if awk -v a="$load_before" -v b="$load_after" -v n="$(nproc)" \
        'BEGIN { exit !(a > n * 0.75 || b > n + 0.5) }'; then
        echo "note: other work kept the machine busy; CPU shares and throughput are less reliable"
    fi
    local fails
    fails=$(fail_rows)
    if ((fails == 0)); then
        echo "ALL PASS"
    else
        echo "$fails FAIL"
        return 1
    fi
}

main "$@"
