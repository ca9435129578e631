#!/usr/bin/env bash
# Installs every build and test dependency from Debian packages.
# Non-interactive and idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  unixodbc unixodbc-dev libsqliteodbc tdsodbc freetds-bin
  qt6-base-dev qt6-base-dev-tools libqt6svg6 xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
