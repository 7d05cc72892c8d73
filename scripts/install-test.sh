#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, and checks the installed product on
# its own, with the build tree moved away: `vantrel --help`, the manual page, completion, a
# short run with the simulated Series 3 from the installed samples, the systemd units
# (systemd-analyze verify), the udev rule (udevadm test on made-up devices), and a run by a
# user other than root (scripts/nonroot-test.sh). Then it removes the package and checks that
# no file is left behind. Must run as root; the machine is left as it was found.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
[ "$(id -u)" -eq 0 ] || { echo "install-test: run as root" >&2; exit 2; }

source scripts/checks.sh

package=$(scripts/package.sh | tail -n 1)
echo "install-test: package $package"
dpkg-deb --info "$package" | sed -n 's/^ *\(Depends\|Suggests\):/    &/p'
check "depends on fuse3 and libfuse3" \
    bash -c "dpkg-deb -f '$package' Depends | grep -q 'fuse3' && dpkg-deb -f '$package' Depends | grep -q 'libfuse3-3'"

# What the machine holds before, to find anything the package leaves behind.
work=$(mktemp -d /tmp/tavro-install-XXXXXX)
snapshot() {
    find /usr /etc /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/cache -o -path /var/log \
        -o -path /var/lib/apt -o -path /var/tmp -o -path /var/lib/systemd \) -prune -o -print \
        2>/dev/null | sort
}
snapshot >"$work/before"

away=""
restore() {
    if [ -n "$away" ] && [ -d "$away" ]; then mv "$away" "$top/build"; fi
    if dpkg-query -W -f='${Status}' tavro 2>/dev/null | grep -q "ok installed"; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tavro >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap restore EXIT

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package" >/dev/null
check "package installed" dpkg-query -W tavro

# From here on only the installed files: no build tree, no source tree on any path.
away=$top/../tavro-build-away-$$
mv "$top/build" "$away"
cd /
unset TAVRO_FS_ADDON_PATH VANTREL_TRACE

check "vantrel --help" bash -c "/usr/bin/vantrel --help | grep -q -- '--series3'"
check "every library is found, none from a build tree" \
    bash -c "! ldd /usr/bin/vantrel /usr/lib/tavro/add-ons/*/*.so | grep -E 'not found|$top'"
check "add-ons installed" test -f /usr/lib/tavro/add-ons/file_systems/tavro3.so \
    -a -f /usr/lib/tavro/add-ons/clients/tavro-mount.so -a -f /usr/lib/tavro/add-ons/clients/linkgate.so
check "manual page" bash -c "MANWIDTH=80 man -P cat vantrel 2>/dev/null | grep -q 'START WHEN THE CABLE IS PLUGGED IN'"
check "manual page lists the options of --help" \
    bash -c "MANWIDTH=80 man -P cat vantrel 2>/dev/null | grep -q -- '--mount-root'"
check "bash completion" bash -c "source /usr/share/bash-completion/bash_completion && \
    source /usr/share/bash-completion/completions/vantrel && complete -p vantrel | grep -q _vantrel"
check "bash completion offers the options of --help" bash -c "
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/vantrel
    COMP_WORDS=(vantrel --mount-r); COMP_CWORD=1; COMP_LINE='vantrel --mount-r'; COMP_POINT=\${#COMP_LINE}
    _vantrel vantrel --mount-r vantrel; [ \"\${COMPREPLY[*]}\" = --mount-root ]"
check "manual page has a SYNOPSIS" bash -c "MANWIDTH=80 man -P cat vantrel 2>/dev/null | grep -A2 '^SYNOPSIS' | grep -q 'vantrel \\[options\\]'"
check "tavro-gate's bash completion offers its commands" bash -c "
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/tavro-gate
    COMP_WORDS=(tavro-gate con); COMP_CWORD=1; COMP_LINE='tavro-gate con'; COMP_POINT=\${#COMP_LINE}
    _tavro_gate tavro-gate con tavro-gate; [ \"\${COMPREPLY[*]}\" = connect ]"
check "samples installed" test -f /usr/share/tavro/samples/NOTES.TXT
check "tavro-gate, the gateway's client, with its manual page" bash -c \
    "/usr/bin/tavro-gate --help | grep -q connect && MANWIDTH=80 man -P cat tavro-gate 2>/dev/null | grep -q TAVRO_GATE"

# Starts the installed vantrel with a simulated handheld whose drive holds a copy of the
# installed samples, and waits for the drive to be mounted; the host's process id is left in
# $host.
start_host() {  # start_host --series3|--series5 FOLDER LETTER:NAME MOUNT_ROOT LOG
    local series=$1 folder=$2 drive=$3 root=$4 log=$5
    mkdir -p "$folder"
    cp -r /usr/share/tavro/samples/. "$folder/"
    /usr/bin/vantrel "$series" --speed 0 --drive "$drive=$folder" --mount-root "$root" \
        >"$log" 2>&1 &
    host=$!
    wait_mounted "$root/${drive#*:}" || true
}

# A short run with the simulated Series 3.
run=$work/run
start_host --series3 "$run/drive" M:INTERNAL "$run/psion" "$run/log"
check "drive mounted from the installed add-ons" cmp -s /usr/share/tavro/samples/NOTES.TXT \
    "$run/psion/INTERNAL/NOTES.TXT"
# Stopped the way systemd stops the unit when the adapter is pulled out: SIGTERM, while a
# program still has a file open on the drive. vantrel detaches that mount after 15 seconds and
# exits after the mount client's next unmount pass, within the unit's TimeoutStopSec.
exec 7<"$run/psion/INTERNAL/STORY.TXT"
started=$SECONDS
stop_process TERM "$host"
exec 7<&-
limit=$(sed -n 's/^TimeoutStopSec=//p' /usr/lib/systemd/system/vantrel@.service)
check "vantrel stopped cleanly on SIGTERM ($((SECONDS - started)) s, a file held open; the unit allows ${limit} s)" \
    test "$status" -eq 0 -a $((SECONDS - started)) -lt "${limit:-0}"
check "nothing left in the mount table" bash -c "! grep -q ' $run/' /proc/self/mounts"
[ "$failures" -eq 0 ] || cat "$run/log"

# The Series 5 file system, when the package has one.
if [ -f /usr/lib/tavro/add-ons/file_systems/tavro5.so ]; then
    start_host --series5 "$run/c" C:Internal "$run/psion5" "$run/log5"
    check "Series 5 drive mounted from the installed tavro5" \
        cmp -s /usr/share/tavro/samples/NOTES.TXT "$run/psion5/Internal/NOTES.TXT"
    stop_process TERM "$host"
    check "Series 5: stopped cleanly, nothing left mounted" \
        bash -c "[ $status -eq 0 ] && ! grep -q ' $run/psion5' /proc/self/mounts"
    [ "$failures" -eq 0 ] || cat "$run/log5"
fi

# The units as installed, for an adapter ttyUSB0.
units=$work/units
mkdir -p "$units/system" "$units/user"
cp /usr/lib/systemd/system/vantrel@.service "$units/system/vantrel@ttyUSB0.service"
cp /usr/lib/systemd/user/vantrel@.service "$units/user/vantrel@ttyUSB0.service"
mkdir -m 700 "$work/xdg"  # the user manager's runtime folder, for --user
for kind in system user; do
    flag=""; [ "$kind" = user ] && flag=--user
    verified=0
    out=$(XDG_RUNTIME_DIR=$work/xdg systemd-analyze $flag verify \
        "$units/$kind/vantrel@ttyUSB0.service" 2>&1) || verified=$?
    [ -z "$out" ] || echo "$out" | sed 's/^/    /'
    # Any complaint (unknown key, bad value, missing program or manual page) fails.
    check "systemd-analyze $flag verify ($kind unit)" test "$verified" -eq 0 -a -z "$out"
done
check "units start on plug-in and stop on unplug" bash -c \
    "grep -qx 'BindsTo=dev-%i.device' /usr/lib/systemd/system/vantrel@.service && \
     grep -qx 'WantedBy=dev-%i.device' /usr/lib/systemd/user/vantrel@.service && \
     grep -q -- '--port /dev/%I' /usr/lib/systemd/system/vantrel@.service"
check "no unit is enabled by the package" bash -c "! ls /etc/systemd/system/*.wants/vantrel@* 2>/dev/null | grep -q ."

cd "$top"
check "udev rule matches USB-serial adapters only" scripts/udev-rule-test.sh /usr/lib/udev/rules.d/70-vantrel.rules
check "non-root end to end" scripts/nonroot-test.sh /usr/bin/vantrel

# Removal leaves nothing behind.
mv "$away" "$top/build"; away=""
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tavro >/dev/null
snapshot >"$work/after"
left=$(comm -13 "$work/before" "$work/after")
gone=$(comm -23 "$work/before" "$work/after")
[ -z "$left" ] || echo "left behind:" "$left"
[ -z "$gone" ] || echo "removed:" "$gone"
check "package removed, no file left behind or taken away" test -z "$left$gone"
echo "install-test: $failures failure(s)"
[ "$failures" -eq 0 ]
