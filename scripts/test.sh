#!/usr/bin/env bash
# Sets up, builds and runs every test: once under AddressSanitizer + UndefinedBehaviorSanitizer
# and once under ThreadSanitizer.
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

status=0
for config in ${TAVRO_TEST_CONFIGS:-asan tsan}; do
    echo "== $config build =="
    scripts/build.sh "$config"
    echo "== $config tests =="
    ctest --test-dir "build/$config" --output-on-failure --timeout 300 -j"$jobs" -LE timing ||
        status=1
    ctest --test-dir "build/$config" --output-on-failure --timeout 300 -j"$cores" -L timing ||
        status=1
done
# Every parser of untrusted bytes under libFuzzer, briefly (TAVRO_FUZZ_SECONDS each, 0: none).
fuzz_seconds=${TAVRO_FUZZ_SECONDS:-6}
if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== fuzzers =="
    scripts/fuzz.sh "$fuzz_seconds" || status=1
fi
exit $status
