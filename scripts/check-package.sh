#!/usr/bin/env bash
# Checks a Debian package of Corvane: unpacks it into a scratch root (dpkg -x) and fails on
# any file the package must hold and does not, on a program that cannot find its libraries
# beside itself, on missing dependencies, and on an installed program that does not start or
# writes its files anywhere but where it should.
# Usage: scripts/check-package.sh PACKAGE.deb CONTENTS.txt
#        (CONTENTS.txt: the paths the package must hold, one a line; the build writes it as
#        <build>/package-contents.txt)
set -euo pipefail
if [ $# -ne 2 ] || [ ! -f "$1" ] || [ ! -f "$2" ]; then
  echo "usage: $0 PACKAGE.deb CONTENTS.txt" >&2
  exit 2
fi
package="$1"
contents="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
root="$scratch/root"
dpkg -x "$package" "$root"
dpkg -e "$package" "$scratch/control"
folder="$root/usr/lib/corvane"
failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

# Every file the package must hold.
while IFS= read -r path; do
  [ -n "$path" ] || continue
  if [ ! -e "$root/$path" ] && [ ! -L "$root/$path" ]; then fail "missing /$path"; fi
done <"$contents"
for file in Help.html ReadMe.txt; do
  [ -s "$folder/$file" ] || fail "/usr/lib/corvane/$file is empty"
done

# The command on the path leads to the program, and the program finds its engines beside
# itself, wherever the folder lies.
[ "$(readlink -f "$root/usr/bin/corvane")" = "$folder/Corvane" ] || fail "/usr/bin/corvane does not lead to /usr/lib/corvane/Corvane"
[ -x "$folder/Corvane" ] || fail "/usr/lib/corvane/Corvane is not executable"
for elf in "$folder"/Corvane "$folder"/lib*.so; do
  [ -e "$elf" ] || continue
  runpath="$(readelf -d "$elf" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')"
  [ "$runpath" = '$ORIGIN' ] || fail "$(basename "$elf") has the library path '$runpath', not \$ORIGIN"
done
if ldd "$folder/Corvane" | grep -q "not found"; then
  fail "libraries of Corvane not found: $(ldd "$folder/Corvane" | grep "not found" | tr -s ' \t' ' ')"
fi
for engine in $(sed -n 's|^usr/lib/corvane/\(libPellwyn[0-9]*\.so\)$|\1|p' "$contents"); do
  where="$(ldd "$folder/Corvane" | sed -n "s|^\s*$engine => \(/\S*\).*|\1|p")"
  [ "$where" = "$folder/$engine" ] || fail "Corvane takes $engine from '${where:-nowhere}', not from its own folder"
done

# What it asks of the system.
control="$scratch/control/control"
depends="$(sed -n 's/^Depends: //p' "$control")"
recommends="$(sed -n 's/^Recommends: //p' "$control")"
for need in libqt6widgets6 libodbc2 qt6-qpa-plugins odbcinst; do
  grep -Eq "(^|, )$need( |,|$)" <<<"$depends" || fail "Depends lacks $need: $depends"
done
grep -Eq "(^|, )tdsodbc( |,|$)" <<<"$recommends" || fail "Recommends lacks tdsodbc: $recommends"
for script in postinst prerm postrm; do
  [ -x "$scratch/control/$script" ] || fail "no executable $script"
done

# The desktop entry starts the command and names the icon the package holds.
entry="$root/usr/share/applications/corvane.desktop"
if [ -f "$entry" ]; then
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "corvane.desktop is not a valid desktop entry"
  fi
  exec_line="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
  icon="$(sed -n 's/^Icon=//p' "$entry")"
  [ -e "$root/usr/bin/$exec_line" ] || fail "the desktop entry starts '$exec_line', which the package does not hold"
  ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".png >/dev/null 2>&1 || fail "no icon '$icon' in the package"
fi

# The maintainer scripts register FreeTDS's driver as "SQL Server" and take it back, in a
# scratch ODBC configuration.
odbc="$scratch/odbc"
mkdir -p "$odbc"
if command -v odbcinst >/dev/null; then
  DPKG_ROOT="$root" ODBCSYSINI="$odbc" sh "$scratch/control/postinst" configure
  grep -q '^\[SQL Server\]' "$odbc/odbcinst.ini" 2>/dev/null && grep -q '^Driver=libtdsodbc.so' "$odbc/odbcinst.ini" ||
    fail "postinst did not register the driver \"SQL Server\""
  DPKG_ROOT="$root" ODBCSYSINI="$odbc" sh "$scratch/control/prerm" remove
  ! grep -q '^\[SQL Server\]' "$odbc/odbcinst.ini" 2>/dev/null || fail "prerm left the driver \"SQL Server\" registered"
fi

# The unpacked program starts through the command on the path (it needs no display on Qt's
# offscreen platform) and writes its log where it should: into a program folder its user may
# write, into the user's state folder when the folder is another's, as an installed one is.
start() {  # user home: runs the program for a few seconds; it must still be running then
  local user="$1" home="$2" status=0
  mkdir -p "$home/runtime"
  chmod 700 "$home/runtime"
  [ "$user" = "" ] || chown -R "$user" "$home"
  local run=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen
    timeout 4 "$root/usr/bin/corvane")
  if [ -n "$user" ]; then
    (cd "$home" && setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups "${run[@]}") >"$home/out" 2>&1 || status=$?
  else
    (cd "$home" && "${run[@]}") >"$home/out" 2>&1 || status=$?
  fi
  [ "$status" = 124 ] || fail "the unpacked Corvane ended with status $status: $(head -c 400 "$home/out")"
}
if [ "$(id -u)" = 0 ]; then
  start "" "$scratch/home-root"
  [ -s "$folder/Log Files/ExecLog.log" ] || fail "root's copy wrote no log into its own folder"
  rm -rf "$folder/Log Files"
  chmod -R go-w "$root"
  start nobody "$scratch/home-nobody"
else
  chmod -R a-w "$folder"
  start "" "$scratch/home-nobody"
fi
[ -s "$scratch/home-nobody/.local/state/corvane/Log Files/ExecLog.log" ] ||
  fail "a user's copy wrote no log into ~/.local/state/corvane"
[ ! -e "$folder/Log Files" ] || fail "a user's copy wrote beside a program folder that is not its own"
chmod -R u+w "$root"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures problem(s) in $package" >&2
  exit 1
fi
echo "check-package: $package holds $(grep -c . "$contents") required files, finds its libraries and starts"
