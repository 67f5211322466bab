#!/usr/bin/env bash
# The cost of the Windows disk's calls against folder depth, under wine: builds
# bench/win32_depth.cpp, makes a chain of folders (one "d" a level) and prints one line per
# depth. A call whose cost doubles with the depth makes a walk quadratic in it.
# Usage: bench/win32_depth.sh [depth...]   (default 1 100 250 500 1000 2000)
# A Linux path is limited to 4096 bytes; wine cannot open a folder whose Linux path is
# longer, so the chain stops at 2000 levels.
set -euo pipefail
cd "$(dirname "$0")/.."
depths=("$@")
[ ${#depths[@]} -eq 0 ] && depths=(1 100 250 500 1000 2000)
out=bench/out/depth
mkdir -p "$out"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -static -municode \
  -o "$out/win32_depth.exe" bench/win32_depth.cpp -lntdll
tree=$out/tree
if [ ! -d "$tree" ]; then
  python3 - "$tree" <<'PY'
import os, sys
os.makedirs(sys.argv[1])
os.chdir(sys.argv[1])
for _ in range(2000):
    os.mkdir('d')
    os.chdir('d')
PY
fi
base='\\?\'$(winepath -w "$tree" 2>/dev/null)
export WINEDEBUG=-all
wineserver -p 2>/dev/null || true
for depth in "${depths[@]}"; do
  wine "$out/win32_depth.exe" "$base" "$depth" 20
done
