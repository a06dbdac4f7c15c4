#!/usr/bin/env bash
# Renders every dialog to PNG files so their layout can be looked at: the wizard's pages, properties
# (every page, the schedule in each of its kinds), about box with and without an edition logo, progress
# window, MAC dialog, debug window, browse, scan, relays and one relay, the group's schedule and options.
# Texts that do not fit their controls are listed on stderr ("clipped: ...").
# Usage: scripts/render-dialogs.sh [outdir]   (default: build/dialog-renders). Builds what it needs in build/.
#   SABLEWICK_RENDER_FONT=<points>  the desktop's font size (through qt6ct, which must be installed)
#   LANG=de_DE.UTF-8                the dialogs in that language; SABLEWICK_RENDER_DARK=1 a dark palette
# Runs under Xvfb when it is installed (real X11 font rendering), else on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/dialog-renders}"
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
if ! log="$(cmake --build build --target renderDialogs test_edition_full -- -j2 2>&1)"; then
  printf "%s\n" "$log" >&2
  exit 1
fi
edition=build/tests/editions/edition_full/libswdist.so
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if [ -n "${SABLEWICK_RENDER_FONT:-}" ]; then
  mkdir -p "$work/qt6ct"
  cat >"$work/qt6ct/qt6ct.conf" <<EOF
[Appearance]
style=Fusion

[Fonts]
general="DejaVu Sans,$SABLEWICK_RENDER_FONT,-1,5,50,0,0,0,0,0"
fixed="DejaVu Sans Mono,$SABLEWICK_RENDER_FONT,-1,5,50,0,0,0,0,0"
EOF
  export XDG_CONFIG_HOME="$work" QT_QPA_PLATFORMTHEME=qt6ct
fi
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/dialogs/renderDialogs "$out" "$edition"
else
  QT_QPA_PLATFORM=offscreen build/tests/dialogs/renderDialogs "$out" "$edition"
fi
