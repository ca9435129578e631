#!/usr/bin/env bash
# Runs the real program on a virtual X display (Xvfb, Qt's xcb platform) and drives one Load
# with the keyboard as a user would: the file dialog, the version dialog (SQL Server 2008),
# the set dialog (first set), the progress dialog to its end and its Close, then Exit. It is
# the smoke test ctest runs (Desktop.XvfbSmoke), on a backup of your choice; pictures of each
# step go to <build>/screenshots/xvfb-smoke-*.png for a person to look at.
# Usage: scripts/xvfb-check.sh [BACKUP.bak]   (default: a Northwind fixture)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
backup="${1:-$root/../shared/fixtures/bak2008_northwind_thuyluv.bak}"
[ -x "$build/bin/Corvane" ] || { echo "xvfb-check: build Corvane first (ninja -C $build Corvane)" >&2; exit 2; }
exec python3 "$root/tests/ui/pellwyn/xvfb_smoke.py" "$build/bin/Corvane" "$backup" "$build/screenshots"
