#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang and the address and undefined-behaviour
# sanitizers into ./build-fuzz, then runs each target for the given seconds (default 60) on a
# scratch copy of its seed corpus, one after the other. Fails when any target finds an input
# that breaks one of its checks or trips a sanitizer; that input is kept in
# build-fuzz/runs/<target>/. Further arguments go to every target as libFuzzer options, for
# example ./fuzz.sh 0 -runs=10000000 for a fixed number of executions instead of a time.
set -euo pipefail

seconds=${1:-60}
(($# > 0)) && shift
root=$(cd "$(dirname "$0")" && pwd)
build="$root/build-fuzz"
targets=(address linesettings usercode replytext csv plan record)
# Inputs longer than an operator types, a device sends or a plan's few rows hold only slow the
# search down.
declare -A maxLength=([address]=128 [linesettings]=64 [usercode]=64 [replytext]=24 [csv]=256
  [plan]=512 [record]=1024)

"$root/scripts/configure.sh" "$root" "$build" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DQELNOR_FUZZ=ON -DQELNOR_WERROR=ON
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz-}" 2>&1 |
  "$root/scripts/progress.sh" "$build/build.log" "fuzz targets: " || {
  cat "$build/build.log"
  exit 1
}

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=0
for target in "${targets[@]}"; do
  run="$build/runs/$target"
  rm -rf "$run"
  mkdir -p "$run/corpus"
  cp -r "$root/fuzz/corpus/$target/." "$run/corpus/"
  status=clean
  if ! "$build/fuzz/fuzz-$target" -max_total_time="$seconds" -max_len="${maxLength[$target]}" \
    -print_final_stats=1 -artifact_prefix="$run/" "$@" "$run/corpus" >"$run/log" 2>&1; then
    status=FOUND
    failed=1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log")
  printf '%-13s %12s executions  %s\n' "$target" "${executions:-?}" "$status"
  if [ "$status" = FOUND ]; then
    grep -E -A1 'violated:' "$run/log" || true
    grep -E 'ERROR: |runtime error:|SUMMARY:' "$run/log" | head -5 || true
    find "$run" -maxdepth 1 -type f ! -name log -printf '  input kept in %p\n'
    echo "  full log: $run/log"
  fi
done
exit "$failed"
