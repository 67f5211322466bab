#!/usr/bin/env bash
# Builds srctally and runs every test suite: native (warnings as errors), native under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows build under wine, plus a
# compile-and-link check of the 32-bit Windows build. Installs what it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest libgtest-dev)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(mingw-w64)
command -v wine >/dev/null || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

step() { echo; echo "== $*"; }

step "native build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DSRCTALLY_WERROR=ON >/dev/null
cmake --build build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs"

step "native tests under ASan and UBSan"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DSRCTALLY_WERROR=ON -DSRCTALLY_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/sanitize --output-on-failure -j"$jobs"

step "32-bit Windows build (compile and link only: 32-bit programs cannot run here)"
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSRCTALLY_WERROR=ON \
  -DSRCTALLY_TESTS=OFF >/dev/null
cmake --build build/win32 -j"$jobs"

step "64-bit Windows build and tests under wine"
cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSRCTALLY_WERROR=ON >/dev/null
cmake --build build/win64 -j"$jobs"
export WINEDEBUG=-all
wineboot -i >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true  # a running server (e.g. left by wineboot) is fine
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --test-dir build/win64 --output-on-failure -j"$jobs"
