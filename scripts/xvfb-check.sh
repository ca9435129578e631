#!/usr/bin/env bash
# Runs the real program on a virtual X display (Xvfb, Qt's xcb platform) and drives one Load
# with the keyboard as a user would: the file dialog, the version dialog (SQL Server 2008),
# the set dialog (first set), the progress dialog to its end and its Close. Pictures of each
# step go to <build>/screenshots/xcb-*.png for a person to look at.
# Usage: scripts/xvfb-check.sh [BACKUP.bak]   (default: a Northwind fixture)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
backup="${1:-$root/../shared/fixtures/bak2008_northwind_thuyluv.bak}"
backup="$(cd "$(dirname "$backup")" && pwd)/$(basename "$backup")"
shots="$build/screenshots"
mkdir -p "$shots"
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "xvfb-check: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done
[ -x "$build/bin/Corvane" ] || { echo "xvfb-check: build Corvane first (ninja -C $build Corvane)" >&2; exit 2; }

if [ -z "${XVFB_CHECK_INSIDE:-}" ]; then
  export XVFB_CHECK_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1280x900x24" bash "$0" "$backup"
fi

export QT_QPA_PLATFORM=xcb
"$build/bin/Corvane" &
program=$!
trap 'kill "$program" 2>/dev/null || true' EXIT

shot() { import -window root "$shots/xcb-$1.png"; echo "xvfb-check: $shots/xcb-$1.png"; }
# Waits for a window whose title is $1 and gives it the keyboard.
window() {
  local id
  id="$(xdotool search --sync --onlyvisible --name "$1" | tail -n 1)"
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
  sleep 0.5
}

window "Tarnwell Brackmoor - v4.10"
sleep 3  # the splash goes by itself
window "Tarnwell Brackmoor - v4.10"
shot 1-started
xdotool key alt+a Return        # Actions > Load
sleep 1.5
shot 2-file-dialog
xdotool type --delay 10 "$backup"
xdotool key Return
sleep 1.5
window '^Tarnwell Brackmoor$'
shot 3-version-dialog
xdotool key Down Down Return    # Microsoft SQL Server 2008, OK
sleep 1.5
window '^Brackmoor$'
xdotool key space               # the first set (the current row) selected
sleep 0.5
shot 4-set-dialog
xdotool key Return              # Recover
sleep 6
window '^Tarnwell Brackmoor$'
shot 5-progress-end
xdotool key space               # Close
sleep 1.5
window "Tarnwell Brackmoor - v4.10"
shot 6-filled-tree
if ! kill -0 "$program" 2>/dev/null; then
  echo "xvfb-check: Corvane ended before the check did" >&2
  exit 1
fi
xdotool key alt+a Up Return     # Actions > Exit
sleep 1
window '^Tarnwell Brackmoor$'
xdotool key alt+y               # "Are you sure you want to close the application ?" Yes
for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$program" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$program" 2>/dev/null; then
  echo "xvfb-check: Corvane did not end on Exit" >&2
  exit 1
fi
trap - EXIT
wait "$program" && echo "xvfb-check: Corvane ended with status 0"
