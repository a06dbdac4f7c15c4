#!/usr/bin/env bash
# Screenshots of what the main window tells about status: the row hints of a computer that does not
# answer and of one that answers from another MAC address, and the status bar after wake-ups (one that
# went to another network, one whose computer answered).
#   scripts/screenshot-status.sh [output folder]   (default build/screenshots-status; needs a built tree, root)
# Runs in a network namespace of its own: a peer namespace at 10.44.0.5 answers pings, 10.44.0.9 is nobody.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/screenshots-status}")"
build="$(realpath "${BUILD_DIR:-build}")"

if [ -z "${SABLEWICK_SHOT_INSIDE:-}" ]; then
  for tool in Xvfb openbox xdotool import; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/deps.sh --screenshots)" >&2; exit 2; }
  done
  [ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace of its own)" >&2; exit 2; }
  exec unshare --net -- env SABLEWICK_SHOT_INSIDE=1 "$0" "$out"
fi

peer="swpeer$$"
ip link set lo up
ip netns add "$peer"
ip link add swst0 type veth peer name swst1 netns "$peer"
ip addr add 10.44.0.1/24 dev swst0
ip link set swst0 up
ip -n "$peer" link set lo up
ip -n "$peer" addr add 10.44.0.5/24 dev swst1
ip -n "$peer" link set swst1 up
# Other networks go to the peer, which forwards nothing: a packet for them leaves, and reaches no one.
ip route add default via 10.44.0.5

mkdir -p "$out"
rm -f "$out"/*.png
work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  ip netns del "$peer" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

QT_QPA_PLATFORM=offscreen "$build/bench/mainwin/bench_mainwin" --make-status-db "$work"

export DISPLAY=":$((200 + RANDOM % 200))"
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

shot() { import -window root "$out/$1.png"; echo "$out/$1.png"; }
QT_QPA_PLATFORM=xcb "$build/sablewick" --database "$work/network.ccn" >"$work/app.log" 2>&1 &
app=$!
main="$(xdotool search --sync --onlyvisible --name '^Sablewick$' | head -1)"
xdotool windowactivate --sync "$main"
# The load's checks: the one nobody answers for times out after five seconds.
sleep 7
shot 1-checked

# Rows are sorted by name: branch-office PC, build-server, Media centre, Workshop NAS. Their places, in
# the window, come from the first screenshot.
row() { echo $((ROW0 + $1 * ROWH)); }
ROW0="${ROW0:-130}"
ROWH="${ROWH:-24}"
xdotool mousemove --window "$main" 120 "$(row 2)"
sleep 2
shot 2-hint-no-answer
xdotool mousemove --window "$main" 120 "$(row 1)"
sleep 2.5
shot 3-hint-other-mac

xdotool mousemove --window "$main" 120 "$(row 0)" click 1
xdotool key F3
sleep 4
shot 4-wake-off-link
xdotool mousemove --window "$main" 120 "$(row 1)" click 1
xdotool key F3
# The packet leaves after two seconds; the first check comes three seconds after it.
sleep 8
shot 5-wake-answered
