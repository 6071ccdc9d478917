#!/usr/bin/env bash
# Installs, with apt-get, only the Debian packages that are missing.
#   scripts/deps.sh build   what building and running the program needs
#   scripts/deps.sh test    that, plus what the tests need
set -euo pipefail

build_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libxcb1-dev
  libpulse-dev libpulse0
  fonts-liberation2 fonts-dejavu-core
)
test_packages=(
  xvfb xauth openbox pulseaudio pulseaudio-utils x11-utils xdotool imagemagick
  clang-14 libclang-rt-14-dev python3 python3-dbusmock dbus-daemon
  desktop-file-utils appstream dpkg-dev libx11-dev
  gnome-shell gjs kwin-wayland kwin-style-breeze xwayland qt6-wayland
)

packages=("${build_packages[@]}")
if [ "${1:-build}" = test ]; then
  packages+=("${test_packages[@]}")
fi

# shellcheck source=scripts/lib/install-missing.sh
. "$(dirname "$0")/lib/install-missing.sh"
install_missing "${packages[@]}"
