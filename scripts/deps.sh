#!/usr/bin/env bash
# Installs the Debian packages the project builds and runs with, when they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev xvfb xauth x11-apps x11-utils openbox imagemagick gnuplot-nox
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon dbus-x11 libsecret-tools dunst)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
