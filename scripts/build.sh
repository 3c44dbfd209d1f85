#!/usr/bin/env bash
# Configures (once) and builds Quellar in build/ with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
build_type="${QUELLAR_BUILD_TYPE:-RelWithDebInfo}"
launcher=()
# ccache, when the machine has it, makes rebuilds in several checkouts cheap; it is optional.
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}" >/dev/null
fi
cmake --build build -- -j"$(nproc)"
