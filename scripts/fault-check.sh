#!/usr/bin/env bash
# Mutation check of the test suite: applies each of a list of known faults to the program's
# source, one at a time, rebuilds and runs the suite until its first failure, and says which
# test caught the fault (or that none did). The source is restored after each fault, also
# when the run is interrupted. Exits 1 when any fault goes uncaught.
#   scripts/fault-check.sh [--build DIR] [ID...]     (all faults when no ID is given)
# A fault names its file by its name under src/ (found wherever it lives) and the exact text
# it replaces, which must occur exactly once: a change that moves the text fails loudly here
# rather than testing nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
if [ "${1:-}" = --build ]; then
  build=$2
  shift 2
fi
[ -f "$build/build.ninja" ] || { echo "fault-check: $build is not a configured build" >&2; exit 2; }

# id | file | text | replacement | the fault in words | the tests likely to catch it (a ctest -R
# pattern, run first to save time; when none of them fails, the whole suite runs).
# "<LF>" in text or replacement is a line end.
faults=$(cat <<'EOF'
ring|acquisition_thread.cpp|const bool cycleEnds = index == bufcnt - 1;|const bool cycleEnds = index == bufcnt - 2;|the ring ends its cycle one block early|Measuring|Logged|Recording|EveryFault
scale|scaling.cpp|return p * 5.0f;|return p * 50.0f;|speed low scaled by 50 instead of 5|SteeringConversion|Scaling
sample|scaling.cpp|const int sample = word >> 4;|const int sample = word & 0x0fff;|the sample taken from the wrong twelve bits|SteeringConversion|Scaling
crlf|log_header.cpp|kLineEnd = "\r\n";|kLineEnd = "\n";|log header lines end in LF, not CR LF|LogHeader|HeaderLines|LogFile
columns|log_header.cpp|std::max(columns - 1, 0)|std::max(columns, 0)|one separator too many after the time base|LogHeader|HeaderLines
digits|record_writer.cpp|putPair(putSmall(out, v / 100), v % 100)|putPair(putSmall(out, v / 100), v % 10)|words from 100 to 9999 written with wrong digits|fuzz_record_format|RecordWriter
flush|log_writer.cpp|if (durable) flush();|if (false) flush();|the log is not flushed when the measurement ends|LogWriterEnd
close|log_file.cpp|log.fd >= 0 && ::close(log.fd) != 0|log.fd >= 0 && false|the log file is never closed|LogFile|LoggedMeasurement|ProgramWindow
input|operator_input.cpp|        rememberClose(panel);<LF>|<LF>|a window close during a message is lost|Stopping|OperatorInput
tick|tick_schedule.h|(now - next) / period + 1;|(now - next) / period;|a late timer schedules its next tick in the past|TickSchedule
status|recorder.cpp|if (message.title == log_write_error_title) return kStatusWriteError;|if (message.title == log_write_error_title) return kStatusOk;|a write error reported as success|Recorder|RecordingFailure
pace|module_session.cpp|link_word_nanos_times_kbps / config_.kbps;|link_word_nanos_times_kbps / config_.kbps / 2;|the simulated link runs at twice its speed|SimOverrun|SimStream
end|recording_description.cpp|{MeasurementEnd::writeError, "write error"},|{MeasurementEnd::writeError, "stopped"},|a write error described as a normal stop|DescriptionJson
prefix|log_file.cpp|kFilePrefix = "/jex-log-";|kFilePrefix = "/jex_log-";|log files get the wrong name|LogFile|LoggedMeasurement
readfd|recording_reader.cpp|if (fd_ >= 0) ::close(fd_);|(void)fd_;|the recording reader leaks its descriptor|ReaderTest
csv|conversion.cpp|*out++ = ',';|*out++ = ';';|the converter's values separated by ';', not ','|CsvRows|ConvertCommand
twice|measurement_stop.cpp|requestStop(threadrun.load() == 0);|requestStop(false);|a second STOP waits for the cycle like the first|Stopping
sync|acquisition_thread.cpp|return (link.data_port & kSyncBit) == kSyncBit;|return true;|a module out of sync is taken as in sync|StartFailure|Recording
mcolumn|marker_column.cpp|fields_[next_].record == index)|fields_[next_].record == index + 1)|a marker lands on the CSV row after its record|ConvertCommand
mclose|log_description.cpp|d.markers = markersBefore(UINT64_MAX);|d.markers = {};|the closing description drops the markers|Markers|Recorder
mreplay|playback.cpp|recording->markers = link->markers;|(void)link;|a playback does not set its recording's markers again|Markers
EOF
)

# Replaces the one occurrence of $2 with $3 in $1; fails when there is not exactly one.
apply_fault() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("<LF>", "\n"), sys.argv[3].replace("<LF>", "\n")
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"fault-check: {path}: the fault's text occurs {text.count(old)} times, not once")
open(path, "w").write(text.replace(old, new))
PY
}

saved=""
original=""
restore() {
  if [ -n "$saved" ]; then
    cp "$saved" "$original"
    rm -f "$saved"
    saved=""
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$PWD/$build/xdg-faults"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
uncaught=0
while IFS="|" read -r -u 3 id file old new what likely; do
  [ $# -gt 0 ] && [[ " $* " != *" $id "* ]] && continue
  mapfile -t found < <(find src -name "$file")
  [ ${#found[@]} -eq 1 ] || { echo "fault-check: $id: $file found ${#found[@]} times under src/" >&2; exit 2; }
  original=${found[0]}
  saved=$(mktemp)
  cp "$original" "$saved"
  apply_fault "$original" "$old" "$new"
  start=$SECONDS
  if ! cmake --build "$build" -- -j 2 >"$build/fault-$id.log" 2>&1; then
    result="caught by the build"
  elif (cd "$build" && ctest -j 2 -R "${likely:-^$}" --stop-on-failure --timeout 300 \
    >>"fault-$id.log" 2>&1 && ctest -j 2 --stop-on-failure --timeout 300 >>"fault-$id.log" 2>&1); then
    result="NOT CAUGHT"
    uncaught=$((uncaught + 1))
  else
    # A parameterised case's name is followed by its parameter ("  # GetParam() = ...").
    first=$(grep -m1 -oE '[0-9]+/[0-9]+ Test +#[0-9]+: [^ ]+ .*(\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|Not Run)' \
      "$build/fault-$id.log" | sed -E 's/^[^:]*: ([^ ]+) .*/\1/' || true)
    result="caught by ${first:-the suite}"
  fi
  restore
  printf '%-8s %-58s %s (%d s)\n' "$id" "$what" "$result" $((SECONDS - start))
# The list is read on descriptor 3: a program under test that reads its standard input
# (ostrel-record takes marker lines from it) must not eat the list.
done 3<<<"$faults"
cmake --build "$build" -- -j 2 >/dev/null 2>&1 || true
[ "$uncaught" -eq 0 ]
