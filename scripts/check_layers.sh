#!/usr/bin/env bash
# Checks that the folders of src/ stand in one order: a file includes headers of its own
# folder and of the folders below it, never of a folder above. Prints each include that
# reaches up and exits 1 if there is any.
#   scripts/check_layers.sh [src-folder]
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
# Bottom first: the rank of a folder is its place in this list.
floors=(base platform runtime console input counting walk report app)
rank() {
  local i
  for i in "${!floors[@]}"; do
    if [ "${floors[$i]}" = "$1" ]; then echo "$i"; return; fi
  done
  echo -1
}
bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  floor=${rel%%/*}
  own=$(rank "$floor")
  if [ "$own" -lt 0 ]; then
    echo "$rel: the folder '$floor' has no place in the order"; bad=1; continue
  fi
  while IFS= read -r target; do
    case "$target" in */*) ;; *) continue ;; esac  # generated headers of the build folder
    up=$(rank "${target%%/*}")
    if [ "$up" -lt 0 ] || [ "$up" -gt "$own" ]; then
      echo "$rel includes $target, above its own floor '$floor'"; bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \) | sort)
exit "$bad"
