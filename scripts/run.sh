#!/usr/bin/env bash
# Sets up, builds and runs the product.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
if [ -x build/release/bin/vantrel ]; then
    exec build/release/bin/vantrel "$@"
fi
echo "Built into build/release; the host application vantrel is not part of this build yet."
ls build/release/lib build/release/bin 2>/dev/null || true
