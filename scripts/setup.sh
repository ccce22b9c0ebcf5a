#!/usr/bin/env bash
# Installs what Dustmaw needs to build, test and run; does nothing when all of it is present.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev libglib2.0-dev zlib1g-dev libxcb1-dev libxcb-shape0-dev
  libgtest-dev libgmock-dev clang clang-tidy libclang-rt-14-dev
  xvfb xauth xdotool openbox imagemagick fonts-ipafont-gothic desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
