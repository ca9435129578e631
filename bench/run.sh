#!/usr/bin/env bash
# Builds a Release tree, grows a real Northwind backup and a real 2000 Northwind database to
# about 1 GiB each in a temporary folder, and runs the engine and program benchmarks on them;
# prints one table of figures, each set against a baseline measured in the same run.
#
# Usage: bench/run.sh [FIXTURE.bak [FIXTURE2000.mdf]]
# Environment: BUILD_DIR (default build-bench); BENCH_BYTES (size of the large backup,
# default 1 GiB); BENCH_TABLE (the table to grow, default the one with the most records);
# BENCH_REPEAT (paired runs of each read figure, the median reported; default 5);
# BENCH_HAND_OVER (census pages per hand-over of the census and memory figures, default 1024;
# the scan figure uses the program's own); BENCH_ONLY (figures to run, default all:
# census,scan,preview,presses,export,memory,census2000,scan2000,tree); TMPDIR (where the large
# files are made; the export is written there too).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${BUILD_DIR:-build-bench}"
fixture="${1:-$root/../shared/fixtures/bak2008r2_northwind_victor.bak}"
fixture2000="${2:-$(dirname "$fixture")/sample2000_NORTHWND.MDF}"
if [ ! -f "$fixture" ]; then
  echo "bench/run.sh: fixture $fixture not found" >&2
  exit 2
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" make-large-backup make-large-mdf2000 engine-bench rows2000-bench >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/pellwyn-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
grow=(--bytes "${BENCH_BYTES:-1073741824}")
if [ -n "${BENCH_TABLE:-}" ]; then grow+=(--table "$BENCH_TABLE"); fi
"$build/bench/make-large-backup" "$fixture" "$work/large.bak" "${grow[@]}"
extra=()
if [ -f "$fixture2000" ]; then
  "$build/bench/make-large-mdf2000" "$fixture2000" "$work/large2000.mdf" --bytes "${BENCH_BYTES:-1073741824}"
  extra+=(--mdf2000 "$work/large2000.mdf")
fi
set +e
"$build/bench/engine-bench" "$fixture" "$work/large.bak" "$work" \
  --repeat "${BENCH_REPEAT:-5}" --hand-over "${BENCH_HAND_OVER:-1024}" \
  --only "${BENCH_ONLY:-census,scan,preview,presses,export,memory,census2000,scan2000,tree}" "${extra[@]}"
rc=$?
# The 2000 engine's record walks on the real Northwind data file, grown.
nw2000="$root/../shared/fixtures/sample2000_NORTHWND.MDF"
if [ -f "$nw2000" ]; then
  "$build/bench/rows2000-bench" "$nw2000" "$work" || rc=1
fi
set -e
exit $rc
