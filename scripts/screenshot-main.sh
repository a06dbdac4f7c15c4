#!/usr/bin/env bash
# Takes a screenshot of the main window with a few sample computers, on a virtual X display.
#   scripts/screenshot-main.sh [output.png]      (default build/screenshot-main.png; needs a built tree)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xsession.sh
out="${1:-build/screenshot-main.png}"
build="${BUILD_DIR:-build}"
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  stop_xsession
  rm -rf "$work"
}
trap cleanup EXIT

QT_QPA_PLATFORM=offscreen "$build/bench/mainwin/bench_mainwin" --make-db "$work"

start_xsession 800x600 --no-wm
QT_QPA_PLATFORM=xcb "$build/sablewick" --database "$work/network.ccn" >/dev/null 2>&1 &
app=$!
# Long enough for the window to show and the loopback checks to complete.
sleep 4
import -window root "$out"
echo "$out"
