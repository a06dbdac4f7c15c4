#!/usr/bin/env bash
# The main window as an administrator of many computers sees it, on a virtual 1280x800 screen under a
# window manager: the list filtered ("rack"), the Status, Last checked and Comments columns added, at a
# 13 pt desktop font in German by default.
#   scripts/screenshot-list.sh [output.png]      (default build/screenshot-list.png; needs a built tree)
#   SABLEWICK_SHOT_FONT=<points>, LANG=...      the font size and the language
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xsession.sh
out="${1:-build/screenshot-list.png}"
build="${BUILD_DIR:-build}"
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  stop_xsession
  rm -rf "$work"
}
trap cleanup EXIT

QT_QPA_PLATFORM=offscreen "$build/bench/mainwin/bench_mainwin" --make-db "$work"
mkdir -p "$work/config/qt6ct" "$work/config/sablewick"
cat >"$work/config/qt6ct/qt6ct.conf" <<CONF
[Appearance]
style=Fusion

[Fonts]
general="DejaVu Sans,${SABLEWICK_SHOT_FONT:-13},-1,5,50,0,0,0,0,0"
fixed="DejaVu Sans Mono,${SABLEWICK_SHOT_FONT:-13},-1,5,50,0,0,0,0,0"
CONF
cat >"$work/config/sablewick/sablewick.conf" <<CONF
[list]
columns=status, lastChecked, comments
CONF

start_xsession 1280x800
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORMTHEME=qt6ct LANG="${LANG:-de_DE.UTF-8}" QT_QPA_PLATFORM=xcb \
  "$build/sablewick" --database "$work/network.ccn" >/dev/null 2>&1 &
app=$!
# Long enough for the window to show and the loopback checks to complete.
sleep 4
xdotool key ctrl+f
xdotool type --delay 50 "rack"
sleep 1
import -window root "$out"
echo "$out"
