#!/usr/bin/env bash
# Builds and runs libFuzzer targets: tests/fuzz/run.sh TARGET|all SECONDS [JOBS]
# Targets: every tests/fuzz/fuzz_NAME.cpp is the target NAME. Each target runs SECONDS of
# wall-clock time on JOBS processes (default 1) from its seed corpus (made from the fixtures
# when missing) into a working corpus BUILD/corpus/TARGET; findings go to BUILD/findings/TARGET,
# the log to BUILD/findings/TARGET.log (with JOBS > 1, each job's log beside the findings). With FUZZ_PARALLEL=1, "all" runs the targets at once.
# Each target's line gives its executions, wall time and CPU time (all its processes).
# Environment: FUZZ_BUILD_DIR (default build-fuzz), PELLWYN_FIXTURES.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
export FUZZ_BUILD_DIR="$build"
all=()
for f in "$root"/tests/fuzz/fuzz_*.cpp; do n="${f##*/fuzz_}"; all+=("${n%.cpp}"); done
if [ $# -lt 2 ]; then
  echo "usage: tests/fuzz/run.sh TARGET|all SECONDS [JOBS]   (targets: ${all[*]})" >&2
  exit 2
fi
which="$1"
seconds="$2"
jobs="${3:-1}"
targets=("$which")
[ "$which" = all ] && targets=("${all[@]}")

bash "$root/tests/fuzz/build.sh" >/dev/null
[ -d "$build/seeds" ] || bash "$root/tests/fuzz/make-seeds.sh" "$build/seeds"

# Largest input per target: database images and backups are big, a page set is a few pages.
max_len() {
  case "$1" in
    backupreader) echo 262144 ;;
    census|catalog2000) echo 524288 ;;
    allocation) echo 327681 ;;
    record|export|record2000|walk2000) echo 73728 ;;
    lob|lob2000) echo 65536 ;;
    scanfile|scanfile2000) echo 262144 ;;
    connect|settings) echo 4096 ;;
  esac
}

run_target() {
  local t="$1"
  local bin="$build/tests/fuzz/fuzz-$t"
  [ -x "$bin" ] || { echo "run.sh: no target $t" >&2; return 2; }
  local corpus="$build/corpus/$t" findings="$build/findings/$t" log="$build/findings/$t.log"
  mkdir -p "$corpus" "$findings" "$build/seeds/$t"
  local start end rc execs found cpu
  # CPU time of the target and its job processes, where the time tool is installed.
  local timer=(env) parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  rm -f "$findings/time.txt" "$findings"/fuzz-*.log
  [ -x /usr/bin/time ] && timer=(/usr/bin/time -o "$findings/time.txt" -f "%U %S")
  start=$(date +%s)
  set +e
  # From the findings folder: with -jobs libFuzzer writes its per-job logs where it runs.
  (cd "$findings" && ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    "${timer[@]}" "$bin" "$corpus" "$build/seeds/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=20 \
      -rss_limit_mb=4096 -artifact_prefix="$findings/" -print_final_stats=1 "${parallel[@]}" >"$log" 2>&1)
  rc=$?
  set -e
  end=$(date +%s)
  # With -jobs the executions are the jobs' own (their logs), not the parent's summary of them.
  local counted="$log"
  [ "$jobs" -gt 1 ] && counted="$(ls "$findings"/fuzz-*.log 2>/dev/null || echo /dev/null)"
  # shellcheck disable=SC2086
  execs=$(grep -h '^stat::number_of_executed_units' $counted | awk '{s+=$2} END {print s+0}')
  found=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  cpu=$(awk 'END {printf "%.0f", $1 + $2}' "$findings/time.txt" 2>/dev/null || echo "?")
  echo "== $t: executions $execs, wall ${seconds}s x $jobs job(s) ($((end - start))s), cpu ${cpu}s, findings $found, exit $rc, log $log"
  [ "$rc" -eq 0 ] && [ "$found" -eq 0 ]
}

status=0
if [ "${FUZZ_PARALLEL:-0}" = 1 ]; then
  pids=()
  for t in "${targets[@]}"; do run_target "$t" & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || status=1; done
else
  for t in "${targets[@]}"; do run_target "$t" || status=1; done
fi
exit $status
