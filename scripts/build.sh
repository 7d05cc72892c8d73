#!/usr/bin/env bash
# build.sh CONFIG [TARGET...]: configures build/CONFIG and builds TARGETs (by default all of it).
# CONFIG is release (optimised, the product), asan (AddressSanitizer + UndefinedBehaviorSanitizer,
# and the libFuzzer targets) or tsan (ThreadSanitizer).
#
# The product is built with the system's compiler (GCC); the sanitizer builds with clang, which
# builds them in two thirds of the time, finds out-of-bounds accesses GCC's UBSan misses, and
# lets the fuzzers share the asan build instead of needing one of their own. So every source is
# compiled, and warned about, by both compilers.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
shift || true
targets=("$@")
cxx=""
case "$config" in
    release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_SANITIZE=none) ;;
    asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DTAVRO_SANITIZE=address -DCMAKE_CXX_FLAGS=-O1
                   -DTAVRO_FUZZ=ON)
             cxx=clang++
             [ ${#targets[@]} -gt 0 ] || targets=(all fuzzers) ;;
    tsan)    args=(-DCMAKE_BUILD_TYPE=Debug -DTAVRO_SANITIZE=thread -DCMAKE_CXX_FLAGS=-O1)
             cxx=clang++ ;;
    *) echo "unknown build config: $config" >&2; exit 2 ;;
esac
if [ -n "$cxx" ]; then
    export CC=clang CXX=clang++
    # lld links each of the many test executables in half the time of the default linker.
    for kind in EXE SHARED MODULE; do args+=(-DCMAKE_${kind}_LINKER_FLAGS=-fuse-ld=lld); done
    # A tree configured with another compiler cannot be switched in place.
    cache=build/$config/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -q "^CMAKE_CXX_COMPILER:[A-Z]*=.*/$cxx\$" "$cache"; then
        echo "build.sh: build/$config was configured with another compiler; configuring it afresh" >&2
        rm -rf "build/$config"
    fi
fi
# The tests share one precompiled GoogleTest header (test sources are most of a sanitizer build),
# unless a compiler cache is in use: it cannot keep objects built with such a header.
# TAVRO_TEST_PCH=ON or OFF chooses.
if [ "$config" != release ]; then
    pch=ON
    [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && pch=OFF
    args+=(-DTAVRO_TEST_PCH="${TAVRO_TEST_PCH:-$pch}")
fi
cmake -S . -B "build/$config" "${args[@]}" >/dev/null
target_args=()
for t in "${targets[@]}"; do target_args+=(--target "$t"); done
cmake --build "build/$config" -j"$(nproc)" "${target_args[@]}"
