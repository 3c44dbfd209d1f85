#!/usr/bin/env bash
# libFuzzer targets for every reader and parser that takes outside input (see fuzz/).
#
#   scripts/fuzz.sh build               configure and build build-fuzz/ with clang (ASan + UBSan)
#   scripts/fuzz.sh run NAME [SECONDS]  fuzz one target (default 600 s; built when missing, run
#                                       `build` first after changing the code); inputs that reach new
#                                       code are merged into fuzz/corpus/NAME, crashes land in
#                                       build-fuzz/artifacts/NAME/
#   scripts/fuzz.sh smoke               a few seconds of every target (ctest -L fuzz)
#   scripts/fuzz.sh list                the target names
#
# A crash input, once fixed, is kept in fuzz/regressions/NAME/ so that the normal test suite
# replays it (tests/fuzz_regression_test.cpp).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
build=build-fuzz
clang="${CLANG:-clang-14}"
clangxx="${CLANGXX:-clang++-14}"

configure_and_build() {
  "$here/scripts/setup.sh"
  if [ ! -f "$build/build.ninja" ]; then
    local flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -gline-tables-only"
    local launcher=()
    if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER="$clang" \
      -DCMAKE_CXX_COMPILER="$clangxx" -DQUELLAR_FUZZ=ON -DBUILD_TESTING=ON -DQUELLAR_BUILD_BENCH=OFF -DQUELLAR_JEMALLOC=OFF \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" "${launcher[@]}" >/dev/null
  fi
  local targets=()
  for name in $(names); do targets+=("fuzz_$name"); done
  cmake --build "$build" --target "${targets[@]}" -- -j"$(nproc)"
}

names() {
  sed -n 's/^ *set(QUELLAR_FUZZ_NAMES \(.*\))$/\1/p' fuzz/CMakeLists.txt | tr ' ' '\n'
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$here/scripts/asan-suppressions.txt"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/scripts/lsan-suppressions.txt:print_suppressions=0"

case "${1:-}" in
  build) configure_and_build ;;
  list) names ;;
  run)
    name="${2:?target name}"
    seconds="${3:-600}"
    # Build only when missing, so that two targets can be run side by side.
    [ -x "$build/fuzz/fuzz_$name" ] || configure_and_build >/dev/null
    mkdir -p "$build/new/$name" "$build/artifacts/$name" "fuzz/corpus/$name" "fuzz/regressions/$name"
    "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name/" "$build/new/$name" "fuzz/corpus/$name" "fuzz/regressions/$name"
    # Keep only what adds coverage to the kept corpus.
    "$build/fuzz/fuzz_$name" -merge=1 -timeout=30 -rss_limit_mb=2048 "fuzz/corpus/$name" "$build/new/$name" 2>&1 | tail -1
    ;;
  smoke)
    configure_and_build
    cd "$build" && ctest -L fuzz --output-on-failure
    ;;
  *) sed -n '2,14p' "$0"; exit 2 ;;
esac
