#!/usr/bin/env bash
# build.sh CONFIG: configures and builds build/CONFIG.
# CONFIG is release (optimised, the product), asan (AddressSanitizer + UndefinedBehaviorSanitizer)
# or tsan (ThreadSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
    release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_SANITIZE=none) ;;
    asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DTAVRO_SANITIZE=address -DCMAKE_CXX_FLAGS=-O1) ;;
    tsan)    args=(-DCMAKE_BUILD_TYPE=Debug -DTAVRO_SANITIZE=thread -DCMAKE_CXX_FLAGS=-O1) ;;
    *) echo "unknown build config: $config" >&2; exit 2 ;;
esac
# TAVRO_TEST_PCH=ON: the tests share one precompiled GoogleTest header, which shortens a build
# without a compiler cache (a precompiled header defeats one). Off unless asked for.
if [ "$config" != release ]; then
    args+=(-DTAVRO_TEST_PCH="${TAVRO_TEST_PCH:-OFF}")
fi
cmake -S . -B "build/$config" "${args[@]}" >/dev/null
cmake --build "build/$config" -j"$(nproc)"
