#!/usr/bin/env bash
# Screenshots, at a 12 pt application font, of what the window says when it cannot do what was asked,
# and of the dialogs at that font: the wizard's pages, the properties dialog, the About box, the browse
# dialog while it searches and once it found nothing, the status bar (cut with "…", whole in its tool
# tip) after a wake-up that could not be checked, and the box and status bar of a database on a
# read-only folder.
#   scripts/screenshot-notices.sh [output folder]  (default build/screenshots-notices; needs a built tree,
#   root, and Xvfb, openbox, xdotool, ImageMagick and qt6ct for the font)
# Runs in network and mount namespaces of its own, without ping sockets or the raw-socket capability, so
# no reachability check can run.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/screenshots-notices}")"
build="$(realpath "${BUILD_DIR:-build}")"

if [ -z "${SABLEWICK_SHOT_INSIDE:-}" ]; then
  for tool in Xvfb openbox xdotool import setpriv; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/deps.sh --tests)" >&2; exit 2; }
  done
  ls /usr/lib/*/qt6/plugins/platformthemes/libqt6ct.so >/dev/null 2>&1 ||
    { echo "missing: qt6ct (apt-get install qt6ct), which sets the application font" >&2; exit 2; }
  [ "$(id -u)" -eq 0 ] || { echo "needs root (network and mount namespaces of its own)" >&2; exit 2; }
  exec unshare --net --mount -- env SABLEWICK_SHOT_INSIDE=1 "$0" "$out"
fi

# A LAN whose address was added without a broadcast address, and no way to check anything.
ip link set lo up
ip link add swnt0 type veth peer name swnt1
ip addr add 10.78.0.1/24 dev swnt0
ip link set swnt0 up
ip link set swnt1 up
sysctl -q -w net.ipv4.ping_group_range="1 0"

mkdir -p "$out"
rm -f "$out"/*.png
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  umount "$work/db" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/config/qt6ct" "$work/config/sablewick" "$work/db"
# TCP probes off: without them and without an ICMP socket no check can run.
printf '[checks]\ntcpPorts=\n' >"$work/config/sablewick/sablewick.conf"
cat >"$work/config/qt6ct/qt6ct.conf" <<'EOF'
[Appearance]
style=Fusion

[Fonts]
general="DejaVu Sans,12,-1,5,50,0,0,0,0,0"
fixed="DejaVu Sans Mono,12,-1,5,50,0,0,0,0,0"
EOF
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORMTHEME=qt6ct QT_QPA_PLATFORM=xcb

export DISPLAY=":$((200 + RANDOM % 200))"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

step=0
shot() {
  step=$((step + 1))
  sleep 0.6
  import -window root "$(printf '%s/%02d-%s.png' "$out" "$step" "$1")"
  printf '%s/%02d-%s.png\n' "$out" "$step" "$1"
}
window() { xdotool search --sync --onlyvisible --name "$1" | head -1; }
key() { xdotool key --delay 60 "$@"; }
type_text() { xdotool type --delay 30 "$1"; }
start() {
  setpriv --bounding-set=-net_raw --inh-caps=-net_raw -- \
    "$build/sablewick" --database "$work/db/network.ccn" >>"$work/app.log" 2>&1 &
  app=$!
}

start
main="$(window '^Sablewick$')"
xdotool windowactivate --sync "$main"

# The wizard's pages: the header's caption and description whole.
key Insert
wizard="$(window '^New computer wizard$')"
xdotool windowactivate --sync "$wizard"
key Tab
type_text "conference-room-projector-on-the-third-floor"
shot wizard-name
# The browse dialog: a label over the empty tree while it searches, and when it found nothing.
key Tab space
browse="$(window '^Browse network$')"
xdotool windowactivate --sync "$browse"
shot browse-searching
# Without any server on the network the search gives up after a while.
sleep "${BROWSE_WAIT:-10}"
shot browse-none-found
key Escape
xdotool windowactivate --sync "$wizard"
key Return
type_text "10.78.0.9"
shot wizard-ip
key Return
type_text "0016b6e3c9a1"
shot wizard-mac
key Return
shot wizard-summary
key Return
sleep 1

# The computer's first check cannot run: the status bar says why, cut at the window's edge.
xdotool windowactivate --sync "$main"
sleep 2
shot status-checks-unavailable
xdotool mousemove --window "$main" 120 "${ROW0:-142}" click 1
key F3
# The packet leaves after two seconds, the first check three seconds later.
sleep 6.5
shot status-wake-unchecked
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" 200 $((HEIGHT - 14))
sleep 0.3
xdotool mousemove --window "$main" 202 $((HEIGHT - 13))
sleep 2
shot status-tool-tip

# The properties dialog and the About box at this font.
xdotool mousemove $((X + 100)) $((Y + 150))
xdotool windowactivate --sync "$main"
key Home Return
props="$(window '^Computer properties$')"
xdotool windowactivate --sync "$props"
shot properties
key Escape
xdotool windowactivate --sync "$main"
key alt+h
sleep 0.3
key a
about="$(window '^About Sablewick$')"
xdotool windowactivate --sync "$about"
shot about
key Return
sleep 0.3
xdotool windowactivate --sync "$main"
key alt+f
sleep 0.3
key e
wait "$app" || true
app=

# A database on a read-only folder: the box shows, and the empty window keeps saying why.
mount --bind "$work/db" "$work/db"
mount -o remount,bind,ro "$work/db"
start
sleep 3
shot read-only-box
key Return
sleep 1
shot read-only-window

echo "screenshots in $out"
