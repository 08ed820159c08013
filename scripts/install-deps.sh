#!/usr/bin/env bash
# Installs what building, running and testing Chromaduct needs on Debian 12.
# Safe to run again: apt is only called when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5svg5
  libpng-dev libtiff-dev libjpeg-dev libopenexr-dev libdeflate-dev liblcms2-dev qt5-image-formats-plugins
  opencolorio-tools imagemagick
  fonts-wqy-microhei
  locales
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
  else
    SUDO=
  fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests check that a decimal-comma locale does not change how numbers
# are read; generate it when it is not there yet.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
  else
    sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
  fi
fi
