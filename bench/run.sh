#!/usr/bin/env bash
# Benchmark: srctally over the Linux kernel sources against a plain read of the same files.
# Builds srctally in Release, then times, round after round: the read floor on one and on
# two threads, the normal and verbose levels each with SRCTALLY_THREADS=1 and with the
# default, and tokei and scc when they are on PATH. Prints medians, ratios, CPU times and
# peak memory.
# Usage: bench/run.sh [runs]   (default 5)
# SRCTALLY_CORPUS names an unpacked tree to use; without it the tree is bench/corpus/linux,
# fetched and unpacked when missing (Debian's linux-source package).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
corpus=bench/corpus
if [ -n "${SRCTALLY_CORPUS:-}" ]; then
  tree=$(cd "$SRCTALLY_CORPUS" && pwd)
elif [ ! -d "$corpus/linux" ]; then
  tarball=$(ls /usr/src/linux-source-*.tar.xz 2>/dev/null | head -n 1 || true)
  if [ -z "$tarball" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq linux-source >/dev/null
    tarball=$(ls /usr/src/linux-source-*.tar.xz | head -n 1)
  fi
  mkdir -p "$corpus"
  echo "unpacking $tarball ..."
  tar -xJf "$tarball" -C "$corpus"
  mv "$corpus"/linux-source-* "$corpus/linux"
fi
tree=${tree:-$PWD/$corpus/linux}
mkdir -p bench/out
cmake -S . -B bench/out/build -DCMAKE_BUILD_TYPE=Release -DSRCTALLY_TESTS=OFF >/dev/null
cmake --build bench/out/build -j2 --target srctally >/dev/null
g++ -O2 -std=c++20 -pthread -o bench/out/floor bench/floor.cpp
# The files srctally counts: the extension table, case-insensitive, folder links followed.
find -L "$tree" -type f \( -iname '*.h' -o -iname '*.hpp' -o -iname '*.hxx' \
  -o -iname '*.c' -o -iname '*.cpp' -o -iname '*.cxx' -o -iname '*.cs' -o -iname '*.java' \
  -o -iname '*.js' -o -iname '*.ino' -o -iname '*.pde' -o -iname '*.php' -o -iname '*.php[3-7]' \) \
  > bench/out/files.txt 2>/dev/null || true
python3 bench/timing.py "$runs" "$tree" bench/out/build/srctally bench/out/floor bench/out/files.txt
