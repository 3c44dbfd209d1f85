#!/usr/bin/env bash
# Builds the whole program and its test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs every test there. Any memory error, leak
# or undefined behaviour fails the test that caused it. Arguments go to ctest
# (for example: scripts/sanitize.sh -R Xlsx).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh"
cd "$here"
# The build runs the test programs too (to list their tests), so the options apply there as well.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
# new_delete_type_mismatch is off: Chromium's code inside Qt WebEngine (the form window) frees
# objects through a base class of another size, which is not ours to fix.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:new_delete_type_mismatch=0:suppressions=$here/scripts/asan-suppressions.txt"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks inside system libraries that the tests load (font configuration, the platform plugin)
# are not ours to fix.
export LSAN_OPTIONS="suppressions=$here/scripts/lsan-suppressions.txt:print_suppressions=0"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLAR_BUILD_BENCH=OFF -DQUELLAR_JEMALLOC=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" "${launcher[@]}" >/dev/null
fi
cmake --build build-asan -- -j"$(nproc)"

cd build-asan
ctest --output-on-failure -j"$(nproc)" "$@"
