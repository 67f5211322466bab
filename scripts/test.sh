#!/usr/bin/env bash
# Builds srctally and runs every test suite: native (warnings as errors), native under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows build under wine, plus a
# compile-and-link check of the 32-bit Windows build. Installs what it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
# Build folders of its own, apart from the quick start's build/.
out=${SRCTALLY_TEST_BUILD:-build-test}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest libgtest-dev)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(mingw-w64)
command -v wine >/dev/null || need+=(wine64)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

# Tests make and remove thousands of folders (deep and wide trees). On a busy machine a
# disk-backed /tmp made that take most of the suite's time (a deep-tree test 20 s instead of
# half a second), so the native suites make their folders in memory when there is a tmpfs.
shm_tmp=
wine_started=
cleanup() {
  if [ -n "$wine_started" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$shm_tmp" ]; then rm -rf "$shm_tmp"; fi
}
trap cleanup EXIT
if [ -z "${TMPDIR:-}" ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ -w /dev/shm ]; then
  shm_tmp=$(mktemp -d /dev/shm/srctally-tests.XXXXXX)
  export TMPDIR="$shm_tmp"
  echo "-- tests make their folders in $TMPDIR (memory)"
fi

step() { echo; echo "== $*"; }
# The five slowest tests of a suite, from the times ctest keeps (seconds, last run).
slowest() {
  local cost="$1/Testing/Temporary/CTestCostData.txt"
  [ -f "$cost" ] || return 0
  echo "-- slowest tests of $1:"
  # awk reads sort's output to its end: a reader that quits early (head) would kill sort
  # with SIGPIPE, which pipefail and set -e turn into a failed suite.
  sed '/^---/,$d' "$cost" | sort -k3 -g -r | awk 'NR <= 5 {printf "   %8.2f s  %s\n", $3, $1}'
}

step "native build and tests"
cmake "${launcher[@]}" -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Release -DSRCTALLY_WERROR=ON >/dev/null
cmake --build "$out/native" -j"$jobs"
ctest --test-dir "$out/native" --output-on-failure -j"$jobs"
slowest "$out/native"

step "Debian package of the native build, checked by lintian"
if command -v lintian >/dev/null && command -v dpkg-deb >/dev/null; then
  rm -rf "$out/package"
  cpack --config "$out/native/CPackConfig.cmake" -G DEB -B "$PWD/$out/package" >/dev/null
  lintian --fail-on error,warning "$out"/package/*.deb
  echo "-- lintian: no error, no warning"
else
  echo "-- lintian or dpkg-deb is not installed: skipped"
fi

step "native tests under ASan and UBSan"
cmake "${launcher[@]}" -S . -B "$out/sanitize" -DCMAKE_BUILD_TYPE=Debug -DSRCTALLY_WERROR=ON -DSRCTALLY_SANITIZE=ON >/dev/null
cmake --build "$out/sanitize" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$out/sanitize" --output-on-failure -j"$jobs"
slowest "$out/sanitize"

step "32-bit Windows build (compile and link only: 32-bit programs cannot run here)"
cmake "${launcher[@]}" -S . -B "$out/win32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSRCTALLY_WERROR=ON \
  -DSRCTALLY_TESTS=OFF >/dev/null
cmake --build "$out/win32" -j"$jobs"

step "64-bit Windows build and tests under wine"
cmake "${launcher[@]}" -S . -B "$out/win64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSRCTALLY_WERROR=ON >/dev/null
cmake --build "$out/win64" -j"$jobs"
export WINEDEBUG=-all
# A wine prefix of the suite's own: its server is the only one stopped at the end, so wine
# programs of other prefixes keep running.
export WINEPREFIX="$PWD/$out/wineprefix"
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true  # a running server (e.g. left by wineboot) is fine
# The prefix's background programs start with the first program that needs them and inherit
# its standard streams: started here, they hold /dev/null, not the pipe ctest reads a test's
# output from (a test holding it stays "running" until its time-out).
wine cmd /c ver </dev/null >/dev/null 2>&1 || true
wine_started=1
ctest --test-dir "$out/win64" --output-on-failure -j"$jobs"
slowest "$out/win64"
