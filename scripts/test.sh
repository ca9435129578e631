#!/usr/bin/env bash
# Builds the project twice (normal, and with the address and undefined-behaviour
# sanitizers) and runs every test on both builds, then runs the tests of threads sharing one
# engine in a thread-sanitizer build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 4)"

run_build() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== normal build"
run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== Debian package: made by CPack, unpacked into a scratch root and checked"
rm -rf build/packages
(cd build && cpack -G DEB >/dev/null)
scripts/check-package.sh build/packages/corvane_*.deb build/package-contents.txt
echo "== sanitizer build (address, undefined)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DPELLWYN_SANITIZE=ON
echo "== thread-sanitizer build: the tests of threads sharing one engine, and the desktop core"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLWYN_TSAN=ON >/dev/null
ninja -C build-tsan engine2008_tests engine2000_tests uicore_tests
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}"
./build-tsan/tests/engine2008_tests \
  --gtest_filter='ExportPool.*:ExportWalk.WalksOfTwoTablesAtOnceKeepApart'
# The 2000 scan thread against the program's two progress threads, stops included; pool
# threads scripting tables on one engine; the rows-only generator and its watcher.
./build-tsan/tests/engine2000_tests \
  --gtest_filter='Scan2000.*:Scripts2000Test.ConcurrentTablesOnOneEngine:Generators2000.*'
./build-tsan/tests/uicore_tests
echo "== all tests passed on every build"
