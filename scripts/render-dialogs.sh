#!/usr/bin/env bash
# Renders every dialog to PNG files so their layout can be looked at: properties (both pages), about box
# with and without an edition logo, progress window, MAC dialog and debug window.
# Usage: scripts/render-dialogs.sh [outdir]   (default: build/dialog-renders). Builds what it needs in build/.
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
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/dialogs/renderDialogs "$out" "$edition"
else
  QT_QPA_PLATFORM=offscreen build/tests/dialogs/renderDialogs "$out" "$edition"
fi
