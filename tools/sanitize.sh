#!/usr/bin/env bash
# Builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer (halting
# on the first report) into build-asan/, and runs the whole test suite there.
set -euo pipefail
cd "$(dirname "$0")/.."

. tools/debian-packages.sh
install_missing clang libclang-rt-14-dev

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
werror=OFF
[ -n "${CI:-}${VANTOR_WERROR:-}" ] && werror=ON
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags -O1" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS="$flags -O1" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DVANTOR_BUILD_BENCH=OFF -DVANTOR_WERROR=$werror >/dev/null
cmake --build build-asan -j"$(nproc)"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
