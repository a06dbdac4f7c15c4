#!/usr/bin/env bash
# Installs what Sablewick needs, builds the program alone (not the tests and benchmarks) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target sablewick --parallel
exec ./build/sablewick "$@"
