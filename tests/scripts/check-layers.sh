#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own. Layers, bottom to
# top: model, store, engine, detectors, app, ui; the platform interfaces sit just above
# model (their backends too); the native host may use those two only.
set -euo pipefail
cd "$(dirname "$0")/../.."

rank() {
  case "$1" in
    model) echo 0 ;;
    platform) echo 1 ;;
    store) echo 2 ;;
    engine) echo 3 ;;
    detectors) echo 4 ;;
    app) echo 5 ;;
    ui) echo 6 ;;
    *) echo "" ;;
  esac
}

failures=0
while IFS= read -r file; do
  layer=${file%%/*}
  case "$layer" in
    host) own=1 ;; # the host: the model and the message port, nothing of the application
    *) own=$(rank "$layer") ;;
  esac
  [ -n "$own" ] || continue
  while IFS= read -r included; do
    target=$(rank "${included%%/*}")
    [ -n "$target" ] || continue
    if [ "$target" -gt "$own" ]; then
      echo "$file includes \"$included\", a layer above its own" >&2
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files 'model/*' 'platform/*' 'store/*' 'engine/*' 'detectors/*' 'app/*' \
           'ui/*' 'host/*' | grep -E '\.(cpp|h)$')

[ "$failures" -eq 0 ] && echo "no file includes from a layer above its own"
exit "$failures"
