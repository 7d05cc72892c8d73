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
# The tests share one precompiled GoogleTest header (test sources are most of a sanitizer build),
# unless a compiler cache is in use: it cannot keep objects built with such a header.
# TAVRO_TEST_PCH=ON or OFF chooses.
if [ "$config" != release ]; then
    pch=ON
    [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && pch=OFF
    args+=(-DTAVRO_TEST_PCH="${TAVRO_TEST_PCH:-$pch}")
fi
cmake -S . -B "build/$config" "${args[@]}" >/dev/null
cmake --build "build/$config" -j"$(nproc)"
