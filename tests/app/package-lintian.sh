#!/usr/bin/env bash
# The Debian package the README's commands make (cpack -G DEB in the build folder) passes lintian
# without an error or a warning. Skipped (77) where cpack's tools or lintian are missing.
set -euo pipefail
build="$1"
for tool in cpack dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/deps.sh --tests)"; exit 77; }
done
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
lintian --fail-on error,warning --no-tag-display-limit "$out"/sablewick_*.deb
