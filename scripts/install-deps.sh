#!/usr/bin/env bash
# Installs the Debian packages that tremcvt needs to build, test and run,
# and any further ones named as arguments (the Windows stage and the
# screenshot scripts name theirs), skipping those already present. Runs as
# root on Debian 12.
#
#   scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  unixodbc unixodbc-dev libsqliteodbc sqlite3
  libmseed-dev libssl-dev
  postgresql postgresql-client odbc-postgresql
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
  time tzdata
  "$@"
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
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
