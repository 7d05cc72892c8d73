# Shared by the scripts that check an installed product (install-test.sh, nonroot-test.sh);
# sourced, never run.

failures=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# Waits up to 20 seconds for a mount at DIRECTORY to show in the mount table.
wait_mounted() {  # wait_mounted DIRECTORY
    for _ in $(seq 1 200); do
        grep -q " $1 " /proc/self/mounts && return 0
        sleep 0.1
    done
    return 1
}

# Sends SIGNAL to the background process PID and waits for it; its exit status is left in
# $status.
stop_process() {  # stop_process SIGNAL PID
    kill -"$1" "$2"
    status=0
    wait "$2" || status=$?
}
