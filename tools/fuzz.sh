#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ and runs each for SECONDS
# (default 30), starting from the seed corpus in fuzz/corpus/<target>.
# New inputs go to build-fuzz/corpus/<target>; crashes to build-fuzz/crashes/.
#   tools/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(receiver batch unit_file data_view)

command -v clang++ >/dev/null || { echo "clang++ is needed: run tools/sanitize.sh once"; exit 1; }
werror=OFF
[ -n "${CI:-}${VANTOR_WERROR:-}" ] && werror=ON
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DVANTOR_BUILD_FUZZ=ON -DVANTOR_BUILD_TESTS=OFF -DVANTOR_BUILD_BENCH=OFF -DBUILD_SHARED_LIBS=OFF \
    -DVANTOR_WERROR=$werror >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
mkdir -p build-fuzz/crashes
status=0
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$t"
    echo "== fuzz_$t for ${seconds}s"
    if ! build-fuzz/fuzz/fuzz_"$t" "build-fuzz/corpus/$t" "fuzz/corpus/$t" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -artifact_prefix="build-fuzz/crashes/$t-" -print_final_stats=1 2>"build-fuzz/$t.log"; then
        status=1
        tail -40 "build-fuzz/$t.log"
    fi
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE" "build-fuzz/$t.log" || true
done
exit $status
