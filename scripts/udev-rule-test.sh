#!/usr/bin/env bash
# Runs `udevadm test` with tavro's udev rule on made-up devices (umockdev): a USB-serial adapter
# (ttyUSB0) and a USB modem (ttyACM0) must become systemd devices marked VANTREL_PORT; a built-in
# serial port (ttyS0) must not be marked. Everything happens in a mount namespace
# of its own, with /dev and /run on tmpfs, since udevadm test writes to both.
#
#   scripts/udev-rule-test.sh [RULE]     (default: packaging/udev/70-vantrel.rules)
# Must run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
rule=$(realpath "${1:-$here/packaging/udev/70-vantrel.rules}")
[ "$(id -u)" -eq 0 ] || { echo "udev-rule-test: run as root" >&2; exit 2; }

if [ -z "${TAVRO_UDEV_KEEP:-}" ]; then
    # The namespace's bind mounts keep its scratch folder busy until it ends.
    keep=$(mktemp -d /tmp/tavro-udev-XXXXXX)
    status=0
    TAVRO_UDEV_KEEP=$keep unshare --mount --propagation private "$0" "$rule" || status=$?
    rm -rf "$keep"
    exit "$status"
fi

# --- inside the namespace ---
keep=$TAVRO_UDEV_KEEP
for node in null zero urandom random tty; do
    touch "$keep/$node"
    mount --bind "/dev/$node" "$keep/$node"
done
mkdir "$keep/pts"
mount --bind /dev/pts "$keep/pts"
mount -t tmpfs tmpfs /dev
for node in null zero urandom random tty; do
    touch "/dev/$node"
    mount --bind "$keep/$node" "/dev/$node"
done
mkdir /dev/pts
mount --bind "$keep/pts" /dev/pts
ln -s pts/ptmx /dev/ptmx
mount -t tmpfs tmpfs /run
mkdir -p /run/udev/rules.d
cp "$rule" /run/udev/rules.d/

usb=/devices/pci0000:00/0000:00:14.0/usb1/1-1
cat >"$keep/devices" <<DEVICES
P: $usb/1-1:1.0/ttyUSB0/tty/ttyUSB0
N: ttyUSB0
E: DEVNAME=/dev/ttyUSB0
E: MAJOR=188
E: MINOR=0
E: SUBSYSTEM=tty

P: $usb/1-1:1.0/ttyUSB0
E: SUBSYSTEM=usb-serial

P: $usb/1-1:1.0
E: DEVTYPE=usb_interface
E: SUBSYSTEM=usb

P: $usb/1-1:1.1/tty/ttyACM0
N: ttyACM0
E: DEVNAME=/dev/ttyACM0
E: MAJOR=166
E: MINOR=0
E: SUBSYSTEM=tty

P: $usb/1-1:1.1
E: DEVTYPE=usb_interface
E: SUBSYSTEM=usb

P: $usb
E: DEVTYPE=usb_device
E: SUBSYSTEM=usb

P: /devices/platform/serial8250/tty/ttyS0
N: ttyS0
E: DEVNAME=/dev/ttyS0
E: MAJOR=4
E: MINOR=64
E: SUBSYSTEM=tty

P: /devices/platform/serial8250
E: SUBSYSTEM=platform
DEVICES

failures=0
expect() {  # expect marked|unmarked ACTION SYSPATH
    local out
    out=$(umockdev-run --device "$keep/devices" -- \
        udevadm test --action="$2" "/sys$3" 2>&1) || true
    local marked=no
    grep -qx 'VANTREL_PORT=1' <<<"$out" && grep -q '^TAGS=.*:systemd:' <<<"$out" && marked=yes
    if grep -q 'vantrel.rules.*[Ii]nvalid' <<<"$out"; then
        echo "FAILED: the rule does not parse"; grep 'vantrel.rules' <<<"$out"; failures=$((failures + 1))
    fi
    if { [ "$1" = marked ] && [ $marked = yes ]; } || { [ "$1" = unmarked ] && [ $marked = no ]; }; then
        echo "ok: $2 ${3##*/} $1"
    else
        echo "FAILED: $2 ${3##*/} should be $1"; grep -E '^[A-Z_.]+=' <<<"$out" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}
expect marked add "$usb/1-1:1.0/ttyUSB0/tty/ttyUSB0"
expect marked add "$usb/1-1:1.1/tty/ttyACM0"
expect unmarked add /devices/platform/serial8250/tty/ttyS0
echo "udev-rule-test: $failures failure(s)"
[ "$failures" -eq 0 ]
