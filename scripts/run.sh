#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the engine on a backup or database file:
# lists its backup sets and prints the recovered catalog (engine-driver scan).
# Usage: scripts/run.sh [FILE [--set N]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build engine-driver
file="${1:-$root/../shared/fixtures/bak2008_northwind_thuyluv.bak}"
shift || true
if [ ! -f "$file" ]; then
  echo "usage: scripts/run.sh FILE [--set N]   (FILE: a .bak backup or an .mdf database file)" >&2
  exit 2
fi
case "$file" in
  *.bak|*.BAK|*.Bak) ./build/tests/engine-driver sets "$file" ;;
esac
./build/tests/engine-driver scan "$file" "$@"
