#!/usr/bin/env bash
# convert_bench.sh: ostrel-convert --summary against pandas on the same 32-channel recording,
# the full conversion of that recording to percent, and its exports to MATLAB and HDF5.
#
#   bench/convert_bench.sh [--build-dir DIR] [--megabytes N] [--no-build]
#
#   --build-dir DIR   Release build directory (default build/release), configured like
#                     bench/run-all.sh does; only ostrel-convert and recording_gen are built
#   --megabytes N     size of the recording (default 512, 1..20000)
#   --no-build        use what DIR holds
#
# Writes a 32-channel recording of N MB (recording_gen, whole cycles as the logging writes
# them) and a tenth of it to a scratch directory under /tmp, then measures, one after the
# other on the warm page cache:
#   ostrel-convert FILE --type 32ch --summary
#   /usr/bin/python3 -c 'import pandas; pandas.read_csv(FILE, skiprows=1).describe()'
#   ostrel-convert FILE --type 32ch > TABLE   (the table in percent, into the scratch directory)
#   ostrel-convert FILE --type 32ch --format mat --out FILE.mat    (percent, the same place)
#   ostrel-convert FILE --type 32ch --format hdf5 --out FILE.h5
# and prints MB/s of input of each, the ratio of the first two (goal >= 5), the full
# conversion's (goal >= 170 MB/s: twice the 85 MB/s it had before its values were copied
# from tables), each export's (goal >= 100 MB/s) and the peak resident memory of each
# (/usr/bin/time), plus ostrel-convert's peaks on the tenth: its memory must not grow with
# the file (goal: at most 4 MB more on the large file, every mode). Installs python3-pandas and time with apt when missing (sudo
# when not root). The recordings and the table are removed on exit, whatever happens. Exit
# status 0 only when every goal is met.
set -euo pipefail

readonly RATIO_GOAL=5
readonly FULL_MBS_GOAL=170
readonly EXPORT_MBS_GOAL=100
readonly RSS_GROWTH_GOAL_KB=4096

BENCH_NAME=convert_bench
source "$(dirname "$0")/bench_common.sh"
megabytes=512
bench_own_option() {
    [ "$1" = --megabytes ] || return 1
    megabytes=${2:?}
}
bench_options "$@"
[[ $megabytes =~ ^[1-9][0-9]*$ ]] && ((megabytes <= 20000)) || bench_die "--megabytes must be 1..20000"

# What the measurement needs beyond the build: pandas for the system's python3, GNU time.
install_missing() {
    local missing=()
    /usr/bin/python3 -c 'import pandas' 2>/dev/null || missing+=(python3-pandas)
    [ -x /usr/bin/time ] || missing+=(time)
    ((${#missing[@]} == 0)) && return
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || bench_die "need root or sudo to install: ${missing[*]}"
        sudo=sudo
    fi
    echo "convert_bench: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_missing

bench_build ostrel-convert recording_gen
convert=$BUILD/src/app/ostrel-convert
generate=$BUILD/bench/recording_gen
[ -x "$convert" ] && [ -x "$generate" ] || bench_die "no ostrel-convert or recording_gen in $BUILD"

bench_scratch /tmp
large=$SCRATCH/jex-log-large.dat
small=$SCRATCH/jex-log-small.dat

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "writing $megabytes MB and $((megabytes / 10 + 1)) MB 32-channel recordings in $SCRATCH"
"$generate" "$large" "$megabytes" 3 >/dev/null
"$generate" "$small" $((megabytes / 10 + 1)) 3 >/dev/null
bytes=$(stat -c %s "$large")

now_ns() { date +%s%N; }

# measure NAME COMMAND...: wall seconds and peak RSS (kB) into SECONDS_TAKEN and RSS_KB.
measure() {
    local name=$1 t0 t1 status=0
    shift
    t0=$(now_ns)
    /usr/bin/time -f '%M' -o "$SCRATCH/rss" "$@" >"$SCRATCH/$name.out" 2>"$SCRATCH/$name.err" ||
        status=$?
    t1=$(now_ns)
    if ((status != 0)); then
        cat "$SCRATCH/$name.err" >&2
        bench_die "$name failed (status $status)"
    fi
    SECONDS_TAKEN=$(awk -v d=$((t1 - t0)) 'BEGIN { printf "%.3f", d / 1e9 }')
    RSS_KB=$(tail -n 1 "$SCRATCH/rss")
}

mbs() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

measure convert "$convert" "$large" --type 32ch --summary
convert_s=$SECONDS_TAKEN
convert_rss=$RSS_KB
measure convert_small "$convert" "$small" --type 32ch --summary
small_rss=$RSS_KB
measure pandas /usr/bin/python3 -c \
    'import sys, pandas; print(pandas.read_csv(sys.argv[1], skiprows=1).describe())' "$large"
pandas_s=$SECONDS_TAKEN
pandas_rss=$RSS_KB
measure full "$convert" "$large" --type 32ch
full_s=$SECONDS_TAKEN
full_rss=$RSS_KB
rm -f "$SCRATCH/full.out"
measure full_small "$convert" "$small" --type 32ch
full_small_rss=$RSS_KB
rm -f "$SCRATCH/full_small.out"

# export FORMAT: MB/s of input into EXPORT_MBS, peak RSS large - tenth (kB) into
# EXPORT_GROWTH, the large file's peak into EXPORT_RSS; the files are removed at once.
export_run() {
    local format=$1 out=$SCRATCH/export.$1
    measure "$format" "$convert" "$large" --type 32ch --format "$format" --out "$out"
    EXPORT_MBS=$(mbs "$SECONDS_TAKEN")
    EXPORT_S=$SECONDS_TAKEN
    EXPORT_RSS=$RSS_KB
    EXPORT_BYTES=$(stat -c %s "$out")
    rm -f "$out"
    measure "${format}_small" "$convert" "$small" --type 32ch --format "$format" --out "$out"
    EXPORT_GROWTH=$((EXPORT_RSS - RSS_KB))
    rm -f "$out"
}
export_run mat
mat_s=$EXPORT_S mat_mbs=$EXPORT_MBS mat_rss=$EXPORT_RSS mat_growth=$EXPORT_GROWTH
mat_bytes=$EXPORT_BYTES
export_run hdf5
hdf5_s=$EXPORT_S hdf5_mbs=$EXPORT_MBS hdf5_rss=$EXPORT_RSS hdf5_growth=$EXPORT_GROWTH
hdf5_bytes=$EXPORT_BYTES

records=$(awk -F': ' '$1 == "records" { print $2 }' "$SCRATCH/convert.out")
ratio=$(awk -v a="$pandas_s" -v b="$convert_s" 'BEGIN { printf "%.1f", a / b }')
growth=$((convert_rss - small_rss))
full_growth=$((full_rss - full_small_rss))
full_mbs=$(mbs "$full_s")
ratio_ok=$(awk -v r="$ratio" -v g="$RATIO_GOAL" 'BEGIN { print (r >= g) ? "PASS" : "FAIL" }')
full_ok=$(awk -v r="$full_mbs" -v g="$FULL_MBS_GOAL" 'BEGIN { print (r >= g) ? "PASS" : "FAIL" }')
rss_ok=$( ((growth <= RSS_GROWTH_GOAL_KB)) && echo PASS || echo FAIL)
full_rss_ok=$( ((full_growth <= RSS_GROWTH_GOAL_KB)) && echo PASS || echo FAIL)
at_least_goal() { awk -v r="$1" -v g="$EXPORT_MBS_GOAL" 'BEGIN { print (r >= g) ? "PASS" : "FAIL" }'; }
mat_ok=$(at_least_goal "$mat_mbs")
hdf5_ok=$(at_least_goal "$hdf5_mbs")
mat_rss_ok=$( ((mat_growth <= RSS_GROWTH_GOAL_KB)) && echo PASS || echo FAIL)
hdf5_rss_ok=$( ((hdf5_growth <= RSS_GROWTH_GOAL_KB)) && echo PASS || echo FAIL)

echo
printf 'recording: %s bytes, %s records of 32 words\n' "$bytes" "$records"
printf '%-34s %10s %10s %14s\n' "" "seconds" "MB/s" "peak RSS MB"
printf '%-34s %10s %10s %14s\n' "ostrel-convert --summary" "$convert_s" "$(mbs "$convert_s")" \
    "$(mb "$convert_rss")"
printf '%-34s %10s %10s %14s\n' "pandas read_csv().describe()" "$pandas_s" "$(mbs "$pandas_s")" \
    "$(mb "$pandas_rss")"
printf '%-34s %10s %10s %14s\n' "ostrel-convert, table in percent" "$full_s" "$full_mbs" \
    "$(mb "$full_rss")"
printf '%-34s %10s %10s %14s\n' "ostrel-convert --format mat" "$mat_s" "$mat_mbs" \
    "$(mb "$mat_rss")"
printf '%-34s %10s %10s %14s\n' "ostrel-convert --format hdf5" "$hdf5_s" "$hdf5_mbs" \
    "$(mb "$hdf5_rss")"
printf 'export sizes: mat %s bytes, hdf5 %s bytes\n' "$mat_bytes" "$hdf5_bytes"
echo
printf '%-46s %-12s %-14s %s\n' "speed-up of ostrel-convert over pandas" "${ratio}x" \
    ">= ${RATIO_GOAL}x" "$ratio_ok"
printf '%-46s %-12s %-14s %s\n' "full conversion to percent, MB/s of input" "$full_mbs" \
    ">= $FULL_MBS_GOAL (2x 85)" "$full_ok"
printf '%-46s %-12s %-14s %s\n' "ostrel-convert peak RSS, large - tenth" "$growth kB" \
    "<= $RSS_GROWTH_GOAL_KB kB" "$rss_ok"
printf '%-46s %-12s %-14s %s\n' "the same for the full conversion" "$full_growth kB" \
    "<= $RSS_GROWTH_GOAL_KB kB" "$full_rss_ok"
printf '%-46s %-12s %-14s %s\n' "export to MATLAB 7.3, MB/s of input" "$mat_mbs" \
    ">= $EXPORT_MBS_GOAL" "$mat_ok"
printf '%-46s %-12s %-14s %s\n' "export to HDF5, MB/s of input" "$hdf5_mbs" \
    ">= $EXPORT_MBS_GOAL" "$hdf5_ok"
printf '%-46s %-12s %-14s %s\n' "MATLAB export peak RSS, large - tenth" "$mat_growth kB" \
    "<= $RSS_GROWTH_GOAL_KB kB" "$mat_rss_ok"
printf '%-46s %-12s %-14s %s\n' "HDF5 export peak RSS, large - tenth" "$hdf5_growth kB" \
    "<= $RSS_GROWTH_GOAL_KB kB" "$hdf5_rss_ok"
[[ $ratio_ok == PASS && $full_ok == PASS && $rss_ok == PASS && $full_rss_ok == PASS &&
    $mat_ok == PASS && $hdf5_ok == PASS && $mat_rss_ok == PASS && $hdf5_rss_ok == PASS ]]
