#!/usr/bin/env bash
# Fails when a file of src/ includes a header of a layer that does not stand below its own:
# core <- timing, net <- model <- product <- ui <- dialogs <- app (product uses only core).
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A allowed=(
  [core]="core"
  [timing]="core timing"
  [net]="core net"
  [model]="core timing net model"
  [product]="core product"
  [ui]="core timing net model product ui"
  [dialogs]="core timing net model product ui dialogs"
  [app]="core timing net model product ui dialogs app"
)
status=0
for layer in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    used=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")
    if [[ " ${allowed[$layer]} " != *" $used "* ]]; then
      echo "src/$file:$line: $layer may not include $used: $text" >&2
      status=1
    fi
  done < <(grep -HnE '^#include "[^/"]+/' -r "$layer" || true)
done
for folder in */; do
  if [[ -z "${allowed[${folder%/}]+set}" ]]; then
    echo "src/$folder: a folder that is no layer of scripts/checkLayers.sh" >&2
    status=1
  fi
done
exit $status
