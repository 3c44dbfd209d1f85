#!/usr/bin/env bash
# Configures (once) and builds Quellar in build/ with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
build_type="${QUELLAR_BUILD_TYPE:-RelWithDebInfo}"
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
fi
cmake --build build -- -j"$(nproc)"
