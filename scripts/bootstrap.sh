#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test
# Tesmar. Packages already present are left alone; apt runs only when
# something is missing. Further packages a script needs may be named as
# arguments (scripts/fuzz.sh asks for clang).
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgtest-dev libgmock-dev
          libbenchmark-dev qt6-qpa-plugins xvfb xauth xdotool fonts-liberation2 fonts-dejavu-core
          clang-format-14 clang-tidy-14 python3-pyvisa python3-pyvisa-py)
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
