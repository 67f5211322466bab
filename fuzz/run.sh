#!/bin/sh
# Runs one fuzz target built by build.sh on one core, keeping its corpus between runs:
#   fuzz/run.sh text [seconds] [extra libFuzzer options]
# Crash reproducers land in build-fuzz/artifacts/<target>/.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${FUZZ_OUT:-$(dirname "$here")/build-fuzz}
target=$1
seconds=${2:-180}
shift
[ $# -gt 0 ] && shift
# The matchers must answer each input at once: seconds mean backtracking without bound
# (5 s leaves room for a busy machine; the slowest inputs take milliseconds).
case $target in
  glob | ignore) timeout=5 ;;
  *) timeout=10 ;;
esac
mkdir -p "$out/corpus/$target" "$out/artifacts/$target"
cd "$out"
exec "./fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout="$timeout" \
  -artifact_prefix="artifacts/$target/" -print_final_stats=1 "$@" "corpus/$target"
