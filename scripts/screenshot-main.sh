#!/usr/bin/env bash
# Takes a screenshot of the main window with a few sample computers, on a virtual X display.
#   scripts/screenshot-main.sh [output.png]      (default build/screenshot-main.png; needs a built tree)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/screenshot-main.png}"
build="${BUILD_DIR:-build}"
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

QT_QPA_PLATFORM=offscreen "$build/bench/mainwin/bench_mainwin" --make-db "$work"

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
  DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/sablewick" --database "$work/network.ccn" >/dev/null 2>&1 &
app=$!
# Long enough for the window to show and the loopback checks to complete.
sleep 4
DISPLAY="$display" import -window root "$out"
echo "$out"
