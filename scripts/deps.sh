#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Sablewick need.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libgsf-1-dev libsmbclient-dev libjpeg-dev)
if [ "${1:-}" = "--tests" ]; then
  PACKAGES+=(samba smbclient python3-olefile iproute2 xvfb fping util-linux libcap2-bin procps
             clang-14 libclang-rt-14-dev imagemagick x11-apps desktop-file-utils appstream man-db
             openbox xdotool x11-utils clang-format nftables)
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
