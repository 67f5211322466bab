#!/usr/bin/env bash
# A whole walk of a deep chain of folders under wine, two Windows builds side by side:
# makes bench/out/walk/dN (one folder "d" a level, a 3-line a.c every 10 levels) and times
# `srctally.exe <tree> /subdir` for each build in turn, rounds alternating, printing one
# line per run: depth, build, wall seconds, the program's CPU seconds and wineserver's.
# Usage: bench/win32_walk_depth.sh OLD.exe NEW.exe ROUNDS DEPTH...
# The wine prefix is $WINEPREFIX (keep a server running with `wineserver -p`).
set -euo pipefail
cd "$(dirname "$0")/.."
old=$1 new=$2 rounds=$3
shift 3
out=bench/out/walk
mkdir -p "$out"
for depth in "$@"; do
  [ -d "$out/d$depth" ] && continue
  python3 - "$out/d$depth" "$depth" <<'PY'
import os, sys
path, depth = sys.argv[1], int(sys.argv[2])
os.makedirs(path)
for level in range(1, depth + 1):
    path = os.path.join(path, 'd')
    os.mkdir(path)
    if level % 10 == 0:
        with open(os.path.join(path, 'a.c'), 'w') as f:
            f.write('int a;\n// c\n\n')
PY
done
export WINEDEBUG=-all
wineserver -p 2>/dev/null || true
# The server of this prefix works in a folder named server-DEV-INODE after the prefix.
prefix=${WINEPREFIX:-$HOME/.wine}
tag=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
server=
for pid in $(pgrep wineserver || true); do
  case $(readlink "/proc/$pid/cwd" 2>/dev/null) in */$tag) server=$pid ;; esac
done
ticks() { [ -n "$server" ] && awk '{print $14 + $15}' "/proc/$server/stat" || echo 0; }
hz=$(getconf CLK_TCK)
for depth in "$@"; do
  tree='Z:'$(realpath "$out/d$depth" | tr / '\\')
  for round in $(seq "$rounds"); do
    for build in old new; do
      exe=$old
      [ "$build" = new ] && exe=$new
      before=$(ticks)
      timing=$( { /usr/bin/time -f '%e %U %S' wine "$exe" "$tree" /subdir >/dev/null; } 2>&1 | tail -1)
      after=$(ticks)
      read -r wall user sys <<<"$timing"
      echo "$depth $build round$round wall=${wall}s cpu=$(echo "$user + $sys" | bc)s" \
        "wineserver=$(echo "scale=2; ($after - $before) / $hz" | bc)s"
    done
  done
done
