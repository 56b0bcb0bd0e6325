#!/bin/bash
# Checks the layering of the program, so that its parts cannot grow a cycle:
# - no file includes one from a layer above its own (platform, base, output,
#   modules, card, inputs, run, campaign, then the entry file), and every
#   folder has a rank, so that a new folder cannot slip in unchecked;
# - inside one folder, no units include each other in a circle. A unit is
#   name.h with name.cc and its name_posix.cc/name_win.cc variants; the
#   *_test.cc files are left out, as a test may use anything of its layer.
# Prints each problem, then a summary, and fails on any.
# Usage: check_layers.sh DIR   (the upgrd_util folder)
set -euo pipefail
cd "$1"
rank() {
  case "$1" in
    platform) echo 0 ;; base) echo 1 ;; output) echo 2 ;; modules) echo 3 ;;
    card) echo 4 ;; inputs) echo 5 ;; run) echo 6 ;; campaign) echo 7 ;;
    .) echo 8 ;;  # the entry file, upgrd_util.cc
  esac
}
unit() { local u=${1##*/}; u=${u%.*}; u=${u%_posix}; echo "${u%_win}"; }
declare -A unranked=()
no_rank() {  # once per folder, however many files name it
  [ -n "${unranked[$1]:-}" ] && return
  unranked[$1]=1
  echo "$1: folder has no rank; add it to rank() in tests/check_layers.sh"
}
bad=0 files=0 edges=
while IFS= read -r file; do
  files=$((files + 1))
  dir=$(dirname "$file")
  own=$(rank "$dir")
  [ -n "$own" ] || no_rank "$dir"
  [ "$dir" = . ] && label=entry || label=$dir
  while IFS= read -r included; do
    used_dir=$(dirname "$included")
    used=$(rank "$used_dir")
    if [ -z "$used" ]; then
      no_rank "$used_dir"
    elif [ -n "$own" ] && [ "$used" -gt "$own" ]; then
      echo "$file includes upgrd_util/$included, a layer above its own"
      bad=$((bad + 1))
    fi
    # A header of the same folder: an edge from this unit to that one, in
    # "folder:unit" form so that tsort below can name the folder of a loop.
    if [ "$used_dir" = "$dir" ] && [[ $included == *.h ]] &&
       [[ $file != *_test.cc ]]; then
      from=$(unit "$file") to=$(unit "$included")
      [ "$from" = "$to" ] || edges+="$label:$from $label:$to"$'\n'
    fi
  done < <(sed -n 's|^#include "upgrd_util/\([^"]*\)".*|\1|p' "$file")
done < <(find . \( -name '*.cc' -o -name '*.h' \) | sed 's|^\./||' | sort)

# tsort fails on a loop, reporting each one it breaks on stderr as a header
# line followed by one "tsort: folder:unit" line per member, in include order.
circles=$(printf '%s' "$edges" | { tsort 2>&1 >/dev/null || true; } | awk '
  function flush() { if (path != "") print path " -> " first; path = "" }
  /input contains a loop:$/ { flush(); next }
  {
    sub(/^tsort: /, ""); split($0, part, ":")
    if (path == "") { first = part[2]; path = part[1] ": " first }
    else path = path " -> " part[2]
  }
  END { flush() }')
[ -z "$circles" ] || echo "$circles"
loops=$(grep -c . <<<"$circles" || true)
echo "$files files checked, $bad includes pointing upward, $loops circles"
[ "$bad" -eq 0 ] && [ "$loops" -eq 0 ] && [ "${#unranked[@]}" -eq 0 ] &&
  [ "$files" -gt 0 ]
