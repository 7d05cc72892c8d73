#!/usr/bin/env bash
# Sets up, builds and runs every test: once under AddressSanitizer + UndefinedBehaviorSanitizer
# and once under ThreadSanitizer; then every fuzzer briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Most tests spend their time waiting on time-outs, late replies and other processes, so they
# run three per core (TAVRO_TEST_JOBS to choose). The suites labelled "timing" (the serial link,
# whose frames must be answered within its resend time, and others with short time-outs) run
# afterwards, one test per core, as a busy machine would otherwise starve them.
cores=$(nproc)
jobs=${TAVRO_TEST_JOBS:-$((3 * cores))}
configs=(${TAVRO_TEST_CONFIGS:-asan tsan})
fuzz_seconds=${TAVRO_FUZZ_SECONDS:-6}
logs=build/test-logs
mkdir -p "$logs"

# The next build runs while tests run, as the tests leave most of the machine idle. It runs at
# idle priority, so that it only takes what the tests leave over and a test never waits for it.
in_background() {
    if chrt --idle 0 true 2>/dev/null; then
        chrt --idle 0 nice -n 19 "$@"
    else
        nice -n 19 "$@"
    fi
}

status=0
run_suites() {
    local config=$1
    echo "== $config tests =="
    ctest --test-dir "build/$config" --output-on-failure --timeout 300 -j"$jobs" -LE timing ||
        status=1
    ctest --test-dir "build/$config" --output-on-failure --timeout 300 -j"$cores" -L timing ||
        status=1
}

# Waits for a background step and shows what it printed.
finish() {
    local pid=$1 log=$2 title=$3
    local result=0
    echo "== $title =="
    wait "$pid" || result=1
    cat "$log"
    [ "$result" -eq 0 ] || echo "test.sh: $title failed" >&2
    return "$result"
}

echo "== ${configs[0]} build =="
scripts/build.sh "${configs[0]}"
built=0
for ((i = 0; i < ${#configs[@]}; i++)); do
    next_pid=""
    if ((i + 1 < ${#configs[@]})); then
        in_background scripts/build.sh "${configs[i + 1]}" >"$logs/build-${configs[i + 1]}.log" 2>&1 &
        next_pid=$!
    fi
    if [ "$built" -eq "$i" ]; then
        run_suites "${configs[i]}"
    else
        echo "== ${configs[i]} tests: not run, as its build failed =="
    fi
    if [ -n "$next_pid" ]; then
        if finish "$next_pid" "$logs/build-${configs[i + 1]}.log" "${configs[i + 1]} build"; then
            built=$((i + 1))
        else
            status=1
        fi
    fi
done
# Every parser of untrusted bytes under libFuzzer, briefly (TAVRO_FUZZ_SECONDS each, 0: none),
# on the whole machine: beside the tests they would get too little of it to find anything.
if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== fuzzers =="
    scripts/fuzz.sh "$fuzz_seconds" || status=1
fi
exit $status
