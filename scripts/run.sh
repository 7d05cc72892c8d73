#!/usr/bin/env bash
# Sets up, builds and runs the product: vantrel with a simulated Series 3 whose internal drive
# "M:" (volume INTERNAL) holds a working copy of samples/ in .run/, and the client add-ons.
# With --series5, a simulated Series 5 instead: drive C: (volume Internal) holds a working
# copy of samples/ in .run/series5/c, drive D: (volume Disk) the folder .run/series5/d.
# While the link is up the drives are Linux mounts under the mount root; every packet is
# traced to .run/trace.txt. Ctrl-C takes the link down, unmounts the drives and exits.
#
#   scripts/run.sh [--series5] [--mount-root PATH] [--fresh] [other vantrel options]
#   scripts/run.sh config [mount-root=PATH] [debug=on|off] [debug-file=PATH]
#
#   --mount-root PATH  where the drives appear (default: the mount client's lasting setting,
#                      else /mnt/psion as root, else $XDG_RUNTIME_DIR/psion or
#                      ~/.local/share/psion)
#   --fresh            start again from a new copy of samples/ (the repository's own samples
#                      never change)
#   config             show or change the mount client's lasting settings
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

mount_root=""
fresh=0
series5=0
config=0
settings_dir=${XDG_CONFIG_HOME:-${HOME:-}/.config}/tavro
extra=()
# The simulated handheld sits behind a pseudo-terminal; vantrel reaches it through the same
# serial link code a cable uses.
pty=(--pty)
while [ $# -gt 0 ]; do
    case "$1" in
        --mount-root) mount_root=${2:?--mount-root needs a path}; shift 2 ;;
        --mount-root=*) mount_root=${1#*=}; shift ;;
        --fresh) fresh=1; shift ;;
        # A real handheld: no simulated one on a pseudo-terminal.
        --port) pty=(); extra+=("$1" "${2:?--port needs a device}"); shift 2 ;;
        --series5) series5=1; shift ;;
        --series3) series5=0; shift ;;
        -h|--help) sed -n '2,18s/^# \{0,1\}//p' "$0"; exit 0 ;;
        config) config=1; extra+=("$@"); break ;;
        --settings-dir) settings_dir=${2:?--settings-dir needs a folder}; extra+=("$1" "$2"); shift 2 ;;
        *) extra+=("$1"); shift ;;
    esac
done
# A mount root kept in the mount client's lasting settings holds unless one is given here.
if [ -z "$mount_root" ] && [ -r "$settings_dir/tavro-mount.conf" ]; then
    mount_root=$(sed -n 's/^mount-root=//p' "$settings_dir/tavro-mount.conf" | tail -n 1)
fi
if [ -z "$mount_root" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        mount_root=/mnt/psion
    elif [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -w "${XDG_RUNTIME_DIR}" ]; then
        mount_root=$XDG_RUNTIME_DIR/psion
    else
        mount_root=$HOME/.local/share/psion
    fi
fi
case "$mount_root" in /*) ;; *) mount_root=$top/$mount_root ;; esac

scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_SANITIZE=none >/dev/null
targets=(vantrel)
available=$(cmake --build build/release --target help)
for addon in tavro3 tavro5 tavro-mount linkgate; do
    grep -qw -- "$addon" <<<"$available" && targets+=("$addon")
done
cmake --build build/release -j"$(nproc)" --target "${targets[@]}"

# The repository's samples never change; the device works on a copy.
if [ "$config" -eq 1 ]; then
    exec build/release/bin/vantrel --addons "$top/build/release/add-ons/clients" "${extra[@]}"
fi

if [ "$series5" -eq 1 ]; then
    drive=$top/.run/series5/c
    second=$top/.run/series5/d
    handheld=(--series5 --drive "C:Internal=$drive" --drive "D:Disk=$second")
    expected=2
    shown="drives C: and D: of the simulated Series 5 appear at $mount_root/Internal and $mount_root/Disk"
else
    drive=$top/.run/internal
    handheld=(--series3 --drive "M:INTERNAL=$drive")
    expected=1
    shown="drive M: of the simulated Series 3 appears at $mount_root/INTERNAL"
fi
if [ "$fresh" -eq 1 ] || [ ! -d "$drive" ]; then
    rm -rf "$drive"
    mkdir -p "$drive"
    cp -r samples/. "$drive/"
fi
if [ "$series5" -eq 1 ]; then
    mkdir -p "$second"
fi

# FUSE mounts of this product below the mount root ("tavro" in the mount table's first field).
our_mounts() {
    awk -v root="$mount_root/" '$1 == "tavro" && index($2 "/", root) == 1 { print $2 }' \
        /proc/self/mounts
}
# Detaches mounts a host that was killed left behind; they answer nothing but errors.
detach_leftovers() {
    local where
    for where in $(our_mounts); do
        echo "tavro: detaching a mount left behind at $where"
        fusermount3 -u -z "$where" 2>/dev/null || umount -l "$where" 2>/dev/null || true
    done
}

mkdir -p "$mount_root"
detach_leftovers
echo "tavro: $shown"
echo "tavro: the files are kept in $drive (scripts/run.sh --fresh starts again from samples/)"
echo "tavro: press Ctrl-C to take the link down and stop"

# Tells where the drives are once they are mounted.
(
    for _ in $(seq 1 150); do
        if [ "$(our_mounts | wc -l)" -ge "$expected" ]; then
            for where in $(our_mounts); do
                echo "tavro: mounted $where:"
                ls -l "$where" 2>&1 | sed 's/^/    /'
            done
            exit 0
        fi
        sleep 0.2
    done
    echo "tavro: no drive was mounted; see vantrel's messages above"
) &
watcher=$!

# vantrel takes Ctrl-C itself (the terminal sends it to both); the script only waits for it.
trap ':' INT
status=0
TAVRO_FS_ADDON_PATH=$top/build/release/add-ons/file_systems \
    build/release/bin/vantrel "${handheld[@]}" \
    --addons "$top/build/release/add-ons/clients" \
    --mount-root "$mount_root" \
    --trace "$top/.run/trace.txt" ${pty[@]+"${pty[@]}"} ${extra[@]+"${extra[@]}"} ||
    status=$?
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true
detach_leftovers
if [ -z "$(our_mounts)" ]; then
    echo "tavro: stopped; nothing is mounted under $mount_root"
fi
exit "$status"
