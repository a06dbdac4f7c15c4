#!/usr/bin/env bash
# Installs what Sablewick needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
exec ./build/sablewick
