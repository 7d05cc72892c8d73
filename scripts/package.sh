#!/usr/bin/env bash
# Builds the Debian package of the product (vantrel, the add-ons, manual page, completion,
# systemd units, udev rule, samples) in build/package and prints the package's path.
#
#   scripts/package.sh            # then: sudo apt install ./build/package/tavro_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
# Installed under /usr, as a package is; only what is installed is built (no tests). The
# package's files are stripped, so they are built without debug information (-O2, as Debian
# builds), which takes a third less time; build/release keeps it for running and debugging.
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" -DTAVRO_SANITIZE=none -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build/package -j"$(nproc)" --target installables >&2
rm -f build/package/tavro_*.deb
(cd build/package && cpack -G DEB >&2)
ls "$PWD"/build/package/tavro_*.deb
