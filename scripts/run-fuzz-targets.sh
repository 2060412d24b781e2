#!/bin/bash
# Runs every fuzz target built in <build folder> for <seconds> each, one after the other:
#   scripts/run-fuzz-targets.sh <build folder> <seconds> [target...]
# The starting inputs of tests/fuzz/corpus/<target>/ and the tokens of tests/fuzz/dict/<target>.dict are
# read; new inputs go to <build folder>/corpus/<target>/ and a failing input to
# <build folder>/artifacts/<target>-crash-<hash>. Stops at the first failure.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -eq 0 ]; then
  set -- $(cd "$source_dir/tests/fuzz" && ls ./*_fuzz.cpp | sed 's|^\./||; s|_fuzz\.cpp$||')
fi
mkdir -p "$build/artifacts"
# libFuzzer writes some files (merge and fork logs, a crash without a prefix) into its working
# folder: keep that inside the build folder, never the checkout.
cd "$build"
for target in "$@"; do
  mkdir -p "$build/corpus/$target"
  dict=""
  [ -f "$source_dir/tests/fuzz/dict/$target.dict" ] && dict="-dict=$source_dir/tests/fuzz/dict/$target.dict"
  echo "== $target: ${seconds} s"
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$target-" $dict "$build/corpus/$target" "$source_dir/tests/fuzz/corpus/$target"
done
