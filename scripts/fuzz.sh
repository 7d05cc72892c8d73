#!/usr/bin/env bash
# fuzz.sh [SECONDS] [NAME...]: builds the libFuzzer targets (they belong to the asan build,
# build/asan, made with clang, AddressSanitizer and UndefinedBehaviorSanitizer) and runs each
# (or the named ones) for SECONDS (default 5), one per core at a time (TAVRO_FUZZ_JOBS to
# choose). The corpus each run grows is kept in build/asan/fuzz/corpus/<name>, seeded from
# fuzz/corpus/<name> when that exists. A crash fails the script with the fuzzer's report; the
# input that caused it is left in build/asan/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
case "$seconds" in (*[!0-9]*|'') echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2 ;; esac

scripts/build.sh asan fuzzers >/dev/null
bin=build/asan/bin
out=build/asan/fuzz

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for f in "$bin"/fuzz_* "$bin"/*_fuzzer; do
        [ -x "$f" ] && names+=("$(basename "$f")")
    done
fi
mkdir -p "$out/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One fuzzer's run; its verdict goes to $out/NAME.verdict, its output to $out/NAME.log.
fuzz_one() {
    local name=$1 corpus=$out/corpus/$1 log=$out/$1.log seeds=()
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    if "$bin/$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/crashes/$name-" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        local runs
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "fuzz: $name: ${runs:-?} inputs in ${seconds} s, no fault" >"$out/$name.verdict"
    else
        echo "FAILED" >"$out/$name.verdict"
    fi
}

jobs=${TAVRO_FUZZ_JOBS:-$(nproc)}
for name in "${names[@]}"; do
    rm -f "$out/$name.verdict"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    fuzz_one "$name" &
done
wait

status=0
for name in "${names[@]}"; do
    if grep -q "no fault" "$out/$name.verdict" 2>/dev/null; then
        cat "$out/$name.verdict"
    else
        echo "fuzz: $name FAILED; its report ($out/$name.log):"
        tail -60 "$out/$name.log"
        status=1
    fi
done
exit $status
