#!/usr/bin/env bash
# Benchmark: srctally over the Linux kernel sources against a plain read of the same files.
# Fetches and unpacks the corpus when it is missing (Debian's linux-source package), builds
# srctally in Release, then times the normal and verbose levels and the read floor,
# alternating, and prints medians, ratios and peak memory.
# Usage: bench/run.sh [runs]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
corpus=bench/corpus
if [ ! -d "$corpus/linux" ]; then
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
mkdir -p bench/out
cmake -S . -B bench/out/build -DCMAKE_BUILD_TYPE=Release -DSRCTALLY_TESTS=OFF >/dev/null
cmake --build bench/out/build -j2 --target srctally >/dev/null
g++ -O2 -std=c++20 -o bench/out/floor bench/floor.cpp
# The files srctally counts: the extension table, case-insensitive, folder links followed.
find -L "$corpus/linux" -type f \( -iname '*.h' -o -iname '*.hpp' -o -iname '*.hxx' \
  -o -iname '*.c' -o -iname '*.cpp' -o -iname '*.cxx' -o -iname '*.cs' -o -iname '*.java' \
  -o -iname '*.js' -o -iname '*.ino' -o -iname '*.pde' -o -iname '*.php' -o -iname '*.php[3-7]' \) \
  > bench/out/files.txt 2>/dev/null || true
python3 bench/timing.py "$runs" "$corpus/linux" bench/out/build/srctally bench/out/floor bench/out/files.txt
