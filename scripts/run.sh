#!/usr/bin/env bash
# Installs the dependencies, builds, and starts the desktop program Corvane, which needs a
# display (an X11 or Wayland session; `xvfb-run scripts/run.sh` gives it a virtual one).
# Without a display, the headless engine driver recovers a file on the command line.
# Usage: scripts/run.sh                        start Corvane
#        scripts/run.sh driver [FILE [--set N]] list the sets of FILE and print its catalog
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ "${1:-}" = "driver" ]; then
  shift
  ninja -C build engine-driver
  file="${1:-$root/../shared/fixtures/bak2008_northwind_thuyluv.bak}"
  shift || true
  if [ ! -f "$file" ]; then
    echo "usage: scripts/run.sh driver FILE [--set N]   (FILE: a .bak backup or an .mdf database file)" >&2
    exit 2
  fi
  case "$file" in
    *.bak|*.BAK|*.Bak) ./build/tests/engine-driver sets "$file" ;;
  esac
  exec ./build/tests/engine-driver scan "$file" "$@"
fi

ninja -C build Corvane
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Corvane needs a display: run it in a desktop session, or under a virtual one with" >&2
  echo "  xvfb-run -a scripts/run.sh" >&2
  echo "or recover a file without a window: scripts/run.sh driver FILE" >&2
  exit 1
fi
exec ./build/bin/Corvane
