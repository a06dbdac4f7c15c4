#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --tests
# Every source file keeps the project's format; a stray one fails the run before the long build.
git ls-files -z 'src/*.cpp' 'src/*.h' | xargs -0 clang-format --dry-run -Werror
# No file includes a layer above its own.
bash scripts/checkLayers.sh
bash scripts/build.sh -DSABLEWICK_WERROR=ON
cd build
# The tests send packets (pings, wake-ups, NetBIOS, name lookups). As root they run in a network
# namespace of their own with only loopback up, so nothing they send can leave this machine; the
# tests that need peers build them in further namespaces of their own.
if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
  exec unshare --net -- bash -c 'ip link set lo up && exec ctest --output-on-failure --timeout 600 "$@"' ctest "$@"
fi
exec ctest --output-on-failure --timeout 600 "$@"
