#!/usr/bin/env bash
# Installs clang and builds every fuzz target into build-fuzz/ (pass target names to build only those).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DSABLEWICK_FUZZ=ON -DSABLEWICK_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build-fuzz --target "$@"
else
  cmake --build build-fuzz
fi
