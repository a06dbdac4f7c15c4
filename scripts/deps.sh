#!/usr/bin/env bash
# Installs the Debian 12 packages that one use of Sablewick's sources needs, and no more. Options add up:
#   deps.sh                 build and run the program
#   deps.sh --tests         also run the test suite (scripts/test.sh)
#   deps.sh --bench         also run the benchmarks (fping is bench_ping's peer; sshd and wakeonlan play bench_relay's relays)
#   deps.sh --screenshots   also take screenshots (scripts/screenshot*.sh)
#   deps.sh --fuzz          also build the fuzz targets (scripts/fuzz-build.sh)
#   deps.sh --package       also build the Debian package (cpack -G DEB)
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libgsf-1-dev libsmbclient-dev libjpeg-dev libavahi-client-dev ieee-data qt6-tools-dev
          qt6-l10n-tools qt6-translations-l10n)
for option in "$@"; do
  case "$option" in
    --tests) PACKAGES+=(clang-format samba python3-olefile iproute2 util-linux procps xvfb x11-utils qt6ct
                        desktop-file-utils appstream man-db dpkg-dev file lintian nftables
                        openssh-client openssh-server wakeonlan etherwake exfat-fuse exfatprogs iputils-ping) ;;
    --bench) PACKAGES+=(fping iproute2 util-linux openssh-client openssh-server wakeonlan) ;;
    --screenshots) PACKAGES+=(xvfb x11-utils openbox xdotool imagemagick iproute2 util-linux) ;;
    --fuzz) PACKAGES+=(clang-14 libclang-rt-14-dev) ;;
    --package) PACKAGES+=(dpkg-dev file) ;;
    *) echo "deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
