#!/usr/bin/env bash
# soak.sh COUNT [FIRST_SEED] [kernel|fuse|tavro5] [CONFIG]: the model-based random-operation
# run, long:
# COUNT operations under injected faults (lost, late, short and garbled replies; about one
# operation in TAVRO_MODEL_FAULT_EVERY, default 4, gets one; 0: no faults), in runs of
# 20,000 operations on a fresh drive each, seeds FIRST_SEED (default 1000) upwards, through the
# kernel's system calls (default), the Linux mount, or on tavro5 (a simulated Series 5, through
# the kernel's calls). Builds CONFIG (default release) first.
# Prints each run's figures and the totals; exits 1 at the first run with a divergence, which
# it prints with its seed and operation.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:?usage: soak.sh COUNT [FIRST_SEED] [kernel|fuse|tavro5] [CONFIG]}
seed=${2:-1000}
way=${3:-kernel}
config=${4:-release}
per_run=20000
case "$way" in
    kernel) target=tavro3_model_tests; filter='ModelTest.*RandomOperationsUnderLost*' ;;
    fuse) target=fuse_model_test; filter='FuseModel.*RandomOperationsUnderLost*' ;;
    tavro5) target=tavro5_model_tests; filter='Series5Model.*RandomOperationsUnderLost*' ;;
    *) echo "soak.sh: kernel, fuse or tavro5, not $way" >&2; exit 2 ;;
esac
case "$config" in
    release | asan) scripts/build.sh "$config" "$target" tavro3 tavro5 tavro-mount >/dev/null ;;
    *) echo "soak.sh: release or asan, not $config" >&2; exit 2 ;;
esac

done_ops=0
faults=0
failed=0
while [ "$done_ops" -lt "$count" ]; do
    n=$(( count - done_ops < per_run ? count - done_ops : per_run ))
    log=$(mktemp)
    if TAVRO_MODEL_OPERATIONS=$n TAVRO_MODEL_SEED=$seed TAVRO_MODEL_PROGRESS=5000 \
        "build/$config/bin/$target" --gtest_filter="$filter" --gtest_also_run_disabled_tests \
        >"$log" 2>&1; then
        line=$(grep -m1 'struck by a fault' "$log")
        echo "$line"
        ops=$(sed -E 's/.*: ([0-9]+) operations, ([0-9]+) struck.*/\1/' <<<"$line")
        hit=$(sed -E 's/.*: ([0-9]+) operations, ([0-9]+) struck.*/\2/' <<<"$line")
        failed_here=$(sed -E 's/.*\(([0-9]+) of them failed\).*/\1/' <<<"$line")
        done_ops=$((done_ops + ops))
        faults=$((faults + hit))
        failed=$((failed + failed_here))
        rm -f "$log"
    else
        echo "soak: seed $seed diverged or failed:"
        grep -E 'model run|Failure|hangs' "$log" | head -40
        echo "(full output: $log)"
        exit 1
    fi
    seed=$((seed + 1))
done
echo "soak: $done_ops operations, $faults struck by a fault ($failed of them failed), no divergence"
