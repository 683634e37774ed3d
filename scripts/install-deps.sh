#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the suite builds, tests and runs with,
# only those missing (apt-get needs root; sudo is used when not root). Extra
# package names on the command line are added (scripts/fuzz.sh: clang).
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev ccache libgtest-dev libmosquitto-dev mosquitto cron xvfb xauth dpkg-dev file "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
