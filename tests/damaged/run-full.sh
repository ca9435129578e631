#!/usr/bin/env bash
# The full damaged-backup run: every 2005 to 2008 R2 fixture backup and the two SQL Server
# 2000 data files (through the 2000 engine) truncated at every 512-byte boundary, and MUTANTS
# mutants of each (fixed seeds 1..MUTANTS), each scanned, previewed and exported end to end in
# a sanitizer build, with a time-out per case.
#   tests/damaged/run-full.sh [MUTANTS [JOBS]]      (defaults: 2000 mutants, all processors)
# Environment: DAMAGED_BUILD_DIR (default build-damaged), PELLWYN_FIXTURES, DAMAGED_ONLY (one
# fixture name), DAMAGED_MODES ("truncate mutate pages" by default; pages: copied pages,
# rewritten page ids, slot counts and entries, zeroed catalog pages, MUTANTS seeds; zero: every
# page zeroed in turn; slots: every page's slot count set to 65535 in turn; both compared with
# the undamaged file table by table, over the pages of the file or of a backup's first stream),
# DAMAGED_DONE (the results file
# of an earlier run: its slices that ended cleanly are not run again).
# Prints one line per slice, the failing slices with their stderr, and the totals; exit 1 when
# any case failed.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${DAMAGED_BUILD_DIR:-$root/build-damaged}"
mutants="${1:-2000}"
jobs="${2:-$(nproc 2>/dev/null || echo 4)}"
fixtures="${PELLWYN_FIXTURES:-$root/../shared/fixtures}"
modes="${DAMAGED_MODES:-truncate mutate pages}"
if [ ! -d "$fixtures" ]; then
  echo "run-full: no fixtures folder at $fixtures" >&2
  exit 0
fi
cd "$root"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLWYN_SANITIZE=ON >/dev/null
ninja -C "$build" damaged-run >/dev/null
export PELLWYN_FIXTURES="$fixtures"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# Case files are written and read back many thousands of times.
[ -d /dev/shm ] && export TMPDIR=/dev/shm

work="$build/damaged-full"
done_before=""
if [ -n "${DAMAGED_DONE:-}" ] && [ -f "$DAMAGED_DONE" ]; then
  done_before="$(mktemp)"
  cp "$DAMAGED_DONE" "$done_before"
fi
rm -rf "$work"
mkdir -p "$work"
slices="$work/slices"
: >"$slices"
names=(bak2005_stdb2sql_2sets.bak bak2005_northwind_gabrujo.bak bak2005_northwnd_mina.bak
       bak2008_northwind_512blk.bak bak2008_northwind_thuyluv.bak bak2008_library_small.bak
       bak2008r2_northwind_victor.bak bak2008r2_entrepot_fr.bak
       sample2000_NORTHWND.MDF sample2000_PUBS.MDF)
for name in "${names[@]}"; do
  [ -n "${DAMAGED_ONLY:-}" ] && [ "$name" != "$DAMAGED_ONLY" ] && continue
  f="$fixtures/$name"
  [ -f "$f" ] || continue
  blocks=$(( $(stat -c %s "$f") / 512 ))
  for mode in $modes; do
    if [ "$mode" = truncate ]; then
      for ((from = 0; from < blocks; from += 100)); do echo "$name truncate $from 100" >>"$slices"; done
    elif [ "$mode" = zero ] || [ "$mode" = slots ]; then
      # Slices past the last page end at once (damaged-run stops at the page count).
      for ((from = 0; from < blocks / 16; from += 50)); do echo "$name $mode $from 50" >>"$slices"; done
    else
      for ((from = 1; from <= mutants; from += 50)); do
        n=$(( mutants - from + 1 < 50 ? mutants - from + 1 : 50 ))
        echo "$name $mode $from $n" >>"$slices"
      done
    fi
  done
done

run_slice() {
  local name="$1" mode="$2" from="$3" count="$4"
  local err="$WORK/$name.$mode.$from.err"
  # Each case has its own time-out inside damaged-run; this one catches a stuck process.
  if timeout $(( count * 120 )) "$BIN" "$name" "$mode" "$from" "$count" 2>"$err"; then
    rm -f "$err"
  else
    echo "FAILED: $name $mode $from $count (see $err)"
  fi
}
export -f run_slice
export WORK="$work" BIN="$build/tests/damaged-run"
start=$(date +%s)
if [ -n "$done_before" ]; then
  # "NAME MODE FROM+COUNT: cases=..." names a slice that ended cleanly.
  sed -n 's/^\([^ ]*\) \([a-z]*\) \([0-9]*\)+\([0-9]*\): .*/\1 \2 \3 \4/p' "$done_before" >"$work/done"
  grep -vxF -f "$work/done" "$slices" >"$work/todo" || true
  mv "$work/todo" "$slices"
  rm -f "$done_before"
fi
# Slices in a fixed mixed order, so a run cut short has still seen every fixture and both modes.
shuf --random-source=<(yes) "$slices" | xargs -P "$jobs" -L 1 bash -c 'run_slice "$@"' _ | tee "$work/results.txt"
end=$(date +%s)
cases=$(grep -o 'cases=[0-9]*' "$work/results.txt" | awk -F= '{s+=$2} END {print s+0}')
failed=$(grep -c '^FAILED' "$work/results.txt" || true)
echo "damaged backups: $cases cases in $((end - start)) s, $failed failed slices"
for e in "$work"/*.err; do [ -f "$e" ] && { echo "== $e"; head -40 "$e"; }; done
[ "$failed" -eq 0 ]
