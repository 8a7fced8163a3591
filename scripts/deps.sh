#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Skips apt-get entirely when everything is already there.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
  xvfb xauth
  appstream desktop-file-utils dpkg-dev file groff-base
  fontconfig fonts-dejavu-core
  g++-mingw-w64-x86-64-posix googletest wine wine64 socat unzip
  librsvg2-bin icoutils nsis xdotool x11-apps netpbm xz-utils
  ser2net gpsd gpsd-clients
  libxml2-utils gpsbabel
  parallel jq
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
