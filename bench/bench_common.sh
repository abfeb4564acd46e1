# bench_common.sh: the plumbing the benchmark scripts share, sourced by them after they set
# BENCH_NAME (the name their messages start with). Provides:
#   bench_usage FIRST LAST     the script's header lines FIRST..LAST on stderr, exit 2
#   bench_die MESSAGE...       "BENCH_NAME: MESSAGE" on stderr, exit 2
#   bench_options ARGS...      --build-dir DIR, --no-build and -h/--help into BUILD and
#                              NO_BUILD; every other option goes to the script's own
#                              bench_own_option NAME VALUE, which returns 0 when it took the
#                              option and its value; anything else is a usage error
#   bench_build TARGET...      configures BUILD as a Release build without tests (the way
#                              bench/run-all.sh does) and builds TARGETs, unless --no-build;
#                              a failure shows the end of the build's output
#   bench_scratch PARENT       a fresh directory under PARENT into SCRATCH, removed on exit
#                              whatever happens
# The caller's working directory is the project's root once this file is sourced.

BUILD=build/release
NO_BUILD=0
BENCH_USAGE_LINES="2,$(($(grep -n -m1 '^set -euo pipefail' "$0" | cut -d: -f1) - 1))"
cd "$(dirname "$0")/.."

bench_usage() {
    sed -n "${BENCH_USAGE_LINES}p" "bench/$(basename "$0")" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

bench_die() {
    echo "$BENCH_NAME: $*" >&2
    exit 2
}

bench_options() {
    while (($#)); do
        case $1 in
            --build-dir) BUILD=${2:?}; shift 2 ;;
            --no-build) NO_BUILD=1; shift ;;
            -h | --help) bench_usage ;;
            *)
                bench_own_option "$1" "${2:-}" || {
                    echo "$BENCH_NAME: unknown option $1" >&2
                    bench_usage
                }
                shift 2
                ;;
        esac
    done
}

bench_build() {
    ((NO_BUILD)) && return
    local log
    log=$(mktemp)
    if ! cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF \
        >"$log" 2>&1 || ! cmake --build "$BUILD" --target "$@" -- -j2 >>"$log" 2>&1; then
        tail -n 40 "$log"
        rm -f "$log"
        bench_die "building in $BUILD failed"
    fi
    rm -f "$log"
}

bench_scratch() {
    SCRATCH=$(mktemp -d "$1/ostrel-$BENCH_NAME.XXXXXX")
    trap 'rm -rf "$SCRATCH"' EXIT
}
