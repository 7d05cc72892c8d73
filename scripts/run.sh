#!/usr/bin/env bash
# Sets up, builds and runs the product: vantrel with a simulated Series 3 whose internal drive
# "M:" (volume INTERNAL) holds a working copy of samples/ in .run/, and the client add-ons.
# Extra arguments go to vantrel (see build/release/bin/vantrel --help). Ctrl-C takes the link
# down and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release

# The repository's samples never change; the device works on a copy.
work=.run/internal
if [ ! -d "$work" ]; then
    mkdir -p "$work"
    cp -R samples/. "$work/"
fi

exec build/release/bin/vantrel \
    --series3 \
    --drive "M:INTERNAL=$PWD/$work" \
    --addons "$PWD/build/release/add-ons/clients" \
    --trace "$PWD/.run/trace.txt" \
    "$@"
