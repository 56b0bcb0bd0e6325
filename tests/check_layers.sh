#!/bin/bash
# Checks that no file of the program includes one from a layer above its own
# (platform, base, output, modules, card, inputs, run, then the entry file),
# so that the layers cannot grow a cycle. Prints each offending include.
# Usage: check_layers.sh DIR   (the upgrd_util folder)
set -euo pipefail
cd "$1"
rank() {
  case "$1" in
    platform) echo 0 ;; base) echo 1 ;; output) echo 2 ;; modules) echo 3 ;;
    card) echo 4 ;; inputs) echo 5 ;; run) echo 6 ;; *) echo 7 ;;
  esac
}
bad=0 files=0
while IFS= read -r file; do
  files=$((files + 1))
  layer=$(dirname "$file"); [ "$layer" = . ] && layer=entry
  own=$(rank "$layer")
  while IFS= read -r included; do
    used=$(rank "${included%%/*}")
    if [ "$used" -gt "$own" ]; then
      echo "$file includes upgrd_util/$included, a layer above its own"
      bad=$((bad + 1))
    fi
  done < <(sed -n 's|^#include "upgrd_util/\([^"]*\)".*|\1|p' "$file")
done < <(find . -name '*.cc' -o -name '*.h' | sed 's|^\./||')
echo "$files files checked, $bad includes pointing upward"
[ "$bad" -eq 0 ] && [ "$files" -gt 0 ]
