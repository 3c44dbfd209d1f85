#!/usr/bin/env bash
# Configures and builds Quellar in build/ with Ninja. The build is configured again whenever the
# options it was configured with change (QUELLAR_BUILD_TYPE, ccache, extra QUELLAR_CMAKE_ARGS),
# so a later build type is never silently ignored.
set -euo pipefail
cd "$(dirname "$0")/.."
build_type="${QUELLAR_BUILD_TYPE:-RelWithDebInfo}"
options=(-G Ninja -DCMAKE_BUILD_TYPE="$build_type")
# ccache, when the machine has it, makes rebuilds in several checkouts cheap; it is optional.
if command -v ccache >/dev/null; then options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
# Further cache entries, e.g. QUELLAR_CMAKE_ARGS="-DQUELLAR_BUILD_BENCH=OFF".
if [ -n "${QUELLAR_CMAKE_ARGS:-}" ]; then read -r -a extra <<<"$QUELLAR_CMAKE_ARGS"; options+=("${extra[@]}"); fi
stamp=build/.configured-with
wanted="$(printf '%s\n' "${options[@]}")"
if [ ! -f build/build.ninja ] || [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$wanted" ]; then
  cmake -S . -B build "${options[@]}" >/dev/null
  printf '%s' "$wanted" >"$stamp"
fi
cmake --build build -- -j"$(nproc)"
