#!/usr/bin/env bash
# Checks that the folders of src/ stand in one order: a file includes headers of its own
# folder and of the folders below it, never of a folder above. Prints each include that
# reaches up and exits 1 if there is any.
#   scripts/check_layers.sh [src-folder]
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
# Bottom first: the rank of a folder is its place in this list.
floors="base platform runtime console input counting walk report app"
# One awk over every file (a process per include would take seconds on a busy machine).
if ! find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \) -print0 | sort -z |
  xargs -0 awk -v src="$src" -v floors="$floors" '
    BEGIN {
      n = split(floors, list, " ")
      for (i = 1; i <= n; i++) rank[list[i]] = i
      bad = 0
    }
    FNR == 1 {
      rel = substr(FILENAME, length(src) + 2)
      floor = rel; sub(/\/.*/, "", floor)
      own = (floor in rank) ? rank[floor] : 0
      if (own == 0) { print rel ": the folder \x27" floor "\x27 has no place in the order"; bad = 1 }
    }
    own > 0 && /^[[:space:]]*#[[:space:]]*include[[:space:]]*"/ {
      target = $0
      sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
      if (target !~ /\//) next  # generated headers of the build folder
      top = target; sub(/\/.*/, "", top)
      if (!(top in rank) || rank[top] > own) {
        print rel " includes " target ", above its own floor \x27" floor "\x27"; bad = 1
      }
    }
    END { exit bad }'; then
  exit 1
fi
