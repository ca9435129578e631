#!/usr/bin/env bash
# Builds the seed maker and writes the seed corpora of every fuzz target from the real
# fixtures: tests/fuzz/make-seeds.sh [OUT]  (OUT defaults to BUILD/seeds).
# Environment: FUZZ_BUILD_DIR (default build-fuzz), PELLWYN_FIXTURES (default ../shared/fixtures).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
fixtures="${PELLWYN_FIXTURES:-$root/../shared/fixtures}"
out="${1:-$build/seeds}"
if [ ! -d "$fixtures" ]; then
  echo "make-seeds: no fixtures folder at $fixtures; the corpora start empty" >&2
  mkdir -p "$out"
  exit 0
fi
bash "$root/tests/fuzz/build.sh" >/dev/null
rm -rf "$out"
mkdir -p "$out"
ASAN_OPTIONS=detect_leaks=0 "$build/tests/fuzz/fuzz-seeds" "$fixtures" "$out"
# The export decoder reads the same pages against the same tables as the preview decoder.
cp -r "$out/record" "$out/export"
