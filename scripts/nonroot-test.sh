#!/usr/bin/env bash
# A user other than root, made for this test, runs vantrel end to end: the drive is mounted
# with fusermount3 under the user's own XDG runtime folder (no --mount-root, no settings), a
# file goes in and another comes out, a desktop notification reaches the user's session bus,
# and Ctrl-C leaves nothing in the mount table. Then the user and everything made are removed.
#
#   scripts/nonroot-test.sh [VANTREL]     (default: the installed /usr/bin/vantrel)
# Must run as root (it makes the user).
set -euo pipefail
vantrel=${1:-/usr/bin/vantrel}
samples=${TAVRO_SAMPLES:-$(dirname "$vantrel")/../share/tavro/samples}
[ "$(id -u)" -eq 0 ] || { echo "nonroot-test: run as root" >&2; exit 2; }
[ -x "$vantrel" ] || { echo "nonroot-test: no $vantrel" >&2; exit 2; }

user=tavro-t$$
runtime=/tmp/tavro-runtime-$$
keep=$(mktemp -d /tmp/tavro-accounts-XXXXXX)
fuse_mode=$(stat -c %a /dev/fuse)
source "$(dirname "$0")/checks.sh"
# useradd and userdel leave backups ("/etc/passwd-" ...) of the account files; they are put
# back as they were.
accounts=(passwd group shadow gshadow subuid subgid)
for file in "${accounts[@]}"; do
    [ -e "/etc/$file-" ] && cp -p "/etc/$file-" "$keep/$file-"
done
cleanup() {
    set +e
    for pid in ${host:-} ${monitor:-} ${bus_pid:-}; do kill "$pid" 2>/dev/null; done
    sleep 0.2
    id "$user" >/dev/null 2>&1 && userdel -r "$user" 2>/dev/null
    for file in "${accounts[@]}"; do
        if [ -e "$keep/$file-" ]; then cp -p "$keep/$file-" "/etc/$file-"; else rm -f "/etc/$file-"; fi
    done
    rm -rf "$runtime" "$keep"
    chmod "$fuse_mode" /dev/fuse
}
trap cleanup EXIT

useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
uid=$(id -u "$user")
mkdir -m 700 "$runtime"
chown "$user:" "$runtime"
# A desktop machine lets every user open /dev/fuse (udev makes it 0666); a container may not.
chmod a+rw /dev/fuse
# A command as the user: "${run_as[@]}" COMMAND. setpriv and env exec, so that a background
# command's $! is the command's own process and signals reach it.
run_as=(setpriv --reuid="$user" --regid="$user" --init-groups
        env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime")
as_user() { "${run_as[@]}" "$@"; }

# The user's session bus, and a record of what is sent on it.
read -r address bus_pid < <(as_user dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -s -d ' ')
run_as+=(DBUS_SESSION_BUS_ADDRESS="$address")
"${run_as[@]}" dbus-monitor "interface='org.freedesktop.Notifications'" >"$runtime/notices" 2>&1 &
monitor=$!

as_user mkdir -p "$home/drive"
as_user cp -r "$samples/." "$home/drive/"
mount_root=$runtime/psion
"${run_as[@]}" "$vantrel" --series3 --speed 0 --drive "M:INTERNAL=$home/drive" >"$runtime/log" 2>&1 &
host=$!
wait_mounted "$mount_root/INTERNAL" || true
check "mounted under \$XDG_RUNTIME_DIR/psion by the user" \
    grep -q "^tavro $mount_root/INTERNAL fuse\.tavro .*user_id=$uid" /proc/self/mounts

echo "a line from the desktop" >"$runtime/in.txt"
chown "$user:" "$runtime/in.txt"
check "copy a file in" as_user cp "$runtime/in.txt" "$mount_root/INTERNAL/IN.TXT"
check "it reached the handheld's drive" cmp -s "$runtime/in.txt" "$home/drive/IN.TXT"
check "copy a file out" as_user cp "$mount_root/INTERNAL/NOTES.TXT" "$home/out.txt"
check "it is the handheld's file" cmp -s "$samples/NOTES.TXT" "$home/out.txt"

stop_process INT "$host"
check "vantrel stopped cleanly" test "$status" -eq 0
check "nothing left in the mount table" \
    bash -c "! awk '\$1 == \"tavro\"' /proc/self/mounts | grep -q '$runtime'"
# Settings go to ~/.config/tavro, and name the user's own mount root.
config_status=0
as_user "$vantrel" config debug=off >"$runtime/config" 2>&1 || config_status=$?
check "settings kept under ~/.config/tavro" test "$config_status" -eq 0
check "they name the per-user mount root" \
    grep -qx "mount-root=$mount_root" "$home/.config/tavro/tavro-mount.conf"
sleep 0.5
check "notice: connected" grep -q '"Psion Series 3 connected"' "$runtime/notices"
check "notice: where the drive is" grep -q "$mount_root/INTERNAL" "$runtime/notices"
check "notice: disconnected" grep -q '"Psion Series 3 disconnected"' "$runtime/notices"
if [ "$failures" -ne 0 ]; then
    echo "--- vantrel"; cat "$runtime/log"
    echo "--- session bus"; cat "$runtime/notices"
fi
echo "nonroot-test: $failures failure(s)"
[ "$failures" -eq 0 ]
