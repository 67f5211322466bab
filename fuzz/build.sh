#!/bin/sh
# Builds the libFuzzer targets of this folder with clang, ASan and UBSan, outside the CMake
# build: the core and the POSIX platform layer are compiled once into a library, then each
# fuzz_*.cpp is linked against it. Output goes to ../build-fuzz (git-ignored).
#   fuzz/build.sh            build every target
#   fuzz/build.sh text       build fuzz_text only
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${FUZZ_OUT:-$root/build-fuzz}
cxx=${CXX:-clang++}
jobs=${JOBS:-2}
flags="-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined
  -fno-sanitize-recover=all -I$root/src -I$root/tests"
mkdir -p "$out/obj"

# The library: everything CMake puts into srctally_lib on POSIX, built for fuzzing.
sources=$(ls "$root"/src/base/*.cpp "$root"/src/platform/*.cpp "$root"/src/runtime/*.cpp \
  "$root"/src/console/*.cpp "$root"/src/input/*.cpp "$root"/src/counting/*.cpp \
  "$root"/src/walk/*.cpp "$root"/src/report/*.cpp "$root"/src/app/*.cpp \
  "$root"/src/platform/posix/*.cpp)
objects=""
for source in $sources; do
  object="$out/obj/$(echo "${source#$root/src/}" | tr / _ | sed 's/\.cpp$/.o/')"
  objects="$objects $object"
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ] ||
     [ -n "$(find "$root/src" -name '*.h' -newer "$object" | head -1)" ]; then
    echo "$cxx $source"
    # shellcheck disable=SC2086
    $cxx $flags -fsanitize=fuzzer-no-link -c "$source" -o "$object" &
    while [ "$(jobs -p | wc -l)" -ge "$jobs" ]; do sleep 0.2; done
  fi
done
wait
rm -f "$out/libsrctally_fuzz.a"
# shellcheck disable=SC2086
ar rcs "$out/libsrctally_fuzz.a" $objects

targets=${*:-$(ls "$here"/fuzz_*.cpp | sed 's/.*fuzz_//; s/\.cpp$//')}
for target in $targets; do
  echo "link fuzz_$target"
  # shellcheck disable=SC2086
  $cxx $flags -fsanitize=fuzzer "$here/fuzz_$target.cpp" "$out/libsrctally_fuzz.a" \
    -o "$out/fuzz_$target"
done
