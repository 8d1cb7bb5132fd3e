#!/usr/bin/env bash
# Installs the Debian packages the client needs to build and test, skipping
# those already present. Runs apt-get as root, or through sudo otherwise.
set -euo pipefail

packages=(
  build-essential
  cmake
  pkg-config
  googletest
  libgtest-dev
  libgmock-dev
  libusb-1.0-0-dev
  umockdev
  libumockdev-dev
  qt6-base-dev
  qt6-qpa-plugins
  qt6-wayland
  weston
  xvfb
  xauth
  clang
  libclang-rt-14-dev
  cyclonedds-dev
  cyclonedds-tools
  lintian
  desktop-file-utils
  man-db
  systemd
  libzstd-dev
  zlib1g-dev
  nodejs
  libssl-dev
  libfastrtps-dev
  libfastcdr-dev
  fastddsgen
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# The MCAP files' independent reader runs on Node.js with npm: Debian ships
# npm apart from nodejs, while a Node.js from elsewhere brings its own.
if ! command -v npm > /dev/null 2>&1; then
  missing+=(npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
