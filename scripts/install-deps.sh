#!/usr/bin/env bash
# Installs every build and test dependency from Debian packages, and registers FreeTDS's
# ODBC driver under the name "SQL Server".
# Non-interactive and idempotent: when everything is in place it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  unixodbc unixodbc-dev libsqliteodbc tdsodbc freetds-bin
  qt6-base-dev qt6-base-dev-tools libqt6svg6 xvfb xauth fonts-dejavu-core fonts-wqy-microhei
  xdotool x11-apps x11-utils desktop-file-utils
  python3
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The program connects with "DRIVER=SQL SERVER;..." (the Windows driver's name). unixODBC
# finds a driver by its odbcinst.ini section, without regard to case, so a section
# "[SQL Server]" naming FreeTDS's library lets that string through unchanged. tdsodbc
# registers itself only as "FreeTDS"; its library line is copied from there.
if odbcinst -q -d -n "SQL Server" >/dev/null 2>&1; then
  echo "install-deps: ODBC driver \"SQL Server\" already registered"
else
  library="$(odbcinst -q -d -n FreeTDS 2>/dev/null | sed -n 's/^Driver=//p' | head -n 1)"
  setup="$(odbcinst -q -d -n FreeTDS 2>/dev/null | sed -n 's/^Setup=//p' | head -n 1)"
  library="${library:-libtdsodbc.so}"
  template="$(mktemp)"
  trap 'rm -f "$template"' EXIT
  {
    echo "[SQL Server]"
    echo "Description=FreeTDS ODBC driver under the Windows driver's name"
    echo "Driver=$library"
    if [ -n "$setup" ]; then echo "Setup=$setup"; fi
  } >"$template"
  $SUDO odbcinst -i -d -f "$template" >/dev/null
  echo "install-deps: registered FreeTDS's ODBC driver ($library) as \"SQL Server\""
fi
