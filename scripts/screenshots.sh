#!/usr/bin/env bash
# Drives the program the way a user does -- a real X server with a window manager, keyboard and mouse
# -- and saves a PNG of each step, with the title each window carries on the screen (_NET_WM_NAME).
#   scripts/screenshots.sh [output folder]      (default build/screenshots; needs a built tree, root)
# Needs Xvfb, openbox, xdotool, xprop and ImageMagick (scripts/deps.sh --screenshots). Runs in a network
# namespace of its own with two veth ends, so the MAC detection asks nobody outside it.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/screenshots}")"
build="$(realpath "${BUILD_DIR:-build}")"

if [ -z "${SABLEWICK_SHOT_INSIDE:-}" ]; then
  for tool in Xvfb openbox xdotool xprop import; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/deps.sh --screenshots)" >&2; exit 2; }
  done
  [ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace of its own)" >&2; exit 2; }
  exec unshare --net -- env SABLEWICK_SHOT_INSIDE=1 "$0" "$out"
fi

# Inside the namespace: loopback and two adapters whose other ends answer nothing.
ip link set lo up
ip link add swshot0 type veth peer name swshot1
ip addr add 10.77.0.1/24 dev swshot0
ip addr add 10.77.1.1/24 dev swshot1
ip link set swshot0 up
ip link set swshot1 up

mkdir -p "$out"
rm -f "$out"/*.png "$out"/titles.txt
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT


export DISPLAY=":$((200 + RANDOM % 200))"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

step=0
shot() { # name: saves the whole screen, and the active window's title beside it
  step=$((step + 1))
  sleep 0.6
  local file
  file="$(printf '%s/%02d-%s.png' "$out" "$step" "$1")"
  import -window root "$file"
  local title
  title="$(xprop -id "$(xdotool getactivewindow)" _NET_WM_NAME 2>/dev/null | sed 's/^[^=]*= //')"
  printf '%02d-%s\t%s\n' "$step" "$1" "$title" >>"$out/titles.txt"
}
window() { xdotool search --sync --onlyvisible --name "$1" | head -1; }
key() { xdotool key --delay 60 "$@"; }
type_text() { xdotool type --delay 40 "$1"; }

QT_QPA_PLATFORM=xcb "$build/sablewick" --database "$work/network.ccn" >"$work/app.log" 2>&1 &
app=$!
main="$(window '^Sablewick$')"
xdotool windowactivate --sync "$main"
shot main-first-run

# Columns after a shrink far below the minimum and back.
xdotool windowsize --sync "$main" 250 150
shot main-shrunk
xdotool windowsize --sync "$main" 580 468
shot main-restored

# The wizard: the name field upper-cases as typed without moving text about.
key Insert
wizard="$(window '^New computer wizard$')"
xdotool windowactivate --sync "$wizard"
key Tab
type_text "büro-straße-"
shot wizard-name-typed
key ctrl+a BackSpace
type_text "10.77.0.9"
key Return
type_text "10.77.0.9"
shot wizard-ip
key Return
type_text "00aa"
shot wizard-mac-partly-typed
# Auto-detect: the address asked answers nothing, so the progress window stays a few seconds.
key Tab space
sleep 0.3
shot wizard-detecting
# A click on the wizard must not bury the progress window or grey the wizard.
eval "$(xdotool getwindowgeometry --shell "$wizard")"
xdotool mousemove $((X + 60)) $((Y + 150)) click 1
shot wizard-clicked-while-detecting
sleep 4
shot wizard-detection-over
# Only Next checks the field: one message for the partly typed address.
key Return
shot wizard-next-with-partial-mac
key Return
sleep 0.3
key ctrl+a BackSpace
type_text "00aabbccddee"
key Return
shot wizard-summary
key Return
sleep 0.5
shot main-one-computer

# Enter on the row opens Properties; Escape in a partly typed MAC puts its text back, the next leaves.
xdotool windowactivate --sync "$main"
key Home Return
props="$(window '^Computer properties$')"
shot properties
# Into the MAC field, take its last digit away, then Escape.
# (The focus starts on the page tabs: then connection, name, address, Auto-detect, MAC.)
xdotool windowactivate --sync "$props"
for _ in 1 2 3 4 5; do key Tab; done
key End BackSpace
shot properties-partial-mac
key Escape
sleep 0.5
shot properties-mac-escaped
key Escape
sleep 0.5
shot properties-left-with-escape

# A 560-character invalid address: the warning quotes it shortened.
xdotool windowactivate --sync "$main"
key Home alt+Return
props="$(window '^Computer properties$')"
xdotool windowactivate --sync "$props"
key Tab Tab Tab ctrl+a BackSpace
xdotool type --delay 4 "$(printf "7%.0s" $(seq 560))"
key Tab Tab Tab # Auto-detect, MAC, then OK
key space # OK
shot properties-long-address-warning
key Return
sleep 0.3
key Escape
sleep 0.3

# Shift+F10 opens the context menu at the row.
xdotool windowactivate --sync "$main"
key Home shift+F10
shot context-menu
key Escape

# A 300-character name: the summary shortens its line.
xdotool windowactivate --sync "$main"
key Insert
wizard="$(window '^New computer wizard$')"
xdotool windowactivate --sync "$wizard"
key Tab
xdotool type --delay 4 "$(printf "n%.0s" $(seq 300))"
key Return
type_text "127.0.0.1"
key Return
type_text "001122334455"
key Return
shot wizard-summary-long-name
eval "$(xdotool getwindowgeometry --shell "$wizard")"
xdotool mousemove $((X + 150)) $((Y + 160))
sleep 1.5
shot wizard-summary-tool-tip
key Escape Escape
sleep 0.3

# The window shrunk and restored once more, now with rows.
xdotool windowsize --sync "$main" 250 150
xdotool windowsize --sync "$main" 580 468
xdotool windowactivate --sync "$main"
shot main-restored-with-rows

echo "screenshots and titles in $out"
cat "$out/titles.txt"
