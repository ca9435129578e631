#!/usr/bin/env bash
# Configures and builds the fuzz targets with clang (FUZZ_BUILD_DIR, default build-fuzz).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
cd "$root"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLWYN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
ninja -C "$build" fuzz-all
