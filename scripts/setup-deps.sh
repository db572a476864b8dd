#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs to build, test and run,
# when they are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-wqy-zenhei xvfb xauth x11-apps imagemagick xdotool
  openssl python3
  fastboot clang libclang-rt-14-dev
  libusb-1.0-0-dev umockdev libumockdev-dev
  libsqlite3-dev libpq-dev postgresql
  libpugixml-dev
  qdl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
