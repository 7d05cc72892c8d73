#!/usr/bin/env bash
# fuzz.sh [SECONDS] [NAME...]: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build/fuzz and runs each (or the named ones) for SECONDS
# (default 5). The corpus each run grows is kept in build/fuzz/corpus/<name>, seeded from
# fuzz/corpus/<name> when that exists. A crash stops the script with the fuzzer's report; the
# input that caused it is left in build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
case "$seconds" in (*[!0-9]*|'') echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2 ;; esac

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
    -DTAVRO_SANITIZE=address -DTAVRO_FUZZ=ON >/dev/null
cmake --build build/fuzz --target fuzzers -j"$(nproc)"

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for f in build/fuzz/bin/fuzz_* build/fuzz/bin/*_fuzzer; do
        [ -x "$f" ] && names+=("$(basename "$f")")
    done
fi
mkdir -p build/fuzz/crashes
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for name in "${names[@]}"; do
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    log=build/fuzz/$name.log
    if "build/fuzz/bin/$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/"$name"- \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "fuzz: $name: ${runs:-?} inputs in ${seconds} s, no fault"
    else
        echo "fuzz: $name FAILED; its report ($log):"
        tail -60 "$log"
        status=1
    fi
done
exit $status
