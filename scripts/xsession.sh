# Sourced by the screenshot scripts: a virtual X display of its own, and openbox on it when asked.
#   start_xsession GEOMETRY [--no-wm]   exports DISPLAY; sets xvfb and wm to the pids to end
#   stop_xsession                      ends both (safe to call twice, and from an EXIT trap)
# Xvfb picks a free display itself (-displayfd), so parallel runs never meet on one.

start_xsession() {
  local geometry="$1" fifo
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb=$!
  local number
  read -r -t 10 number <"$fifo" || { rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  export DISPLAY=":$number"
  if [ "${2:-}" != "--no-wm" ]; then
    openbox >/dev/null 2>&1 &
    wm=$!
    # Until the window manager owns the screen, a new window would map unmanaged.
    for _ in $(seq 50); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.1
    done
  fi
}

stop_xsession() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  wm=
  xvfb=
}
