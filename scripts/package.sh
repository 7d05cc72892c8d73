#!/usr/bin/env bash
# Builds the Debian package of the product (vantrel, the add-ons, manual page, completion,
# systemd units, udev rule, samples) from build/release and prints the package's path.
#
#   scripts/package.sh            # then: sudo apt install ./build/release/tavro_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
# Installed under /usr, as a package is; only what is installed is built (no tests).
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_SANITIZE=none \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target installables >&2
rm -f build/release/tavro_*.deb
(cd build/release && cpack -G DEB >&2)
ls "$PWD"/build/release/tavro_*.deb
