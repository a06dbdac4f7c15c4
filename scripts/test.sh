#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --tests
bash scripts/build.sh -DSABLEWICK_WERROR=ON
cd build
ctest --output-on-failure --timeout 600 "$@"
