#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display. Its stages run side by
# side so that both cores stay busy:
#   - the build in build/, then the suite there, and the window's and the command line's suites
#     again under scripts/pause-harness.sh, stopped again and again as a very busy machine would
#     stop them;
#   - the clang build in build-asan/, then the suite again under AddressSanitizer and
#     UndefinedBehaviorSanitizer, and a short pass of every fuzz target;
#   - as root on another release than Debian 13, the suite on Debian 13 (Qt 6.8) in a chroot.
# The last two need nothing of build/ and start at once, at a lower priority, so that build/ is
# ready early for the paused suites, which take long but hardly use the processor. Each stage's
# whole output is in build/stages/. Ends with the suite's results, each stage's times, and what
# was not checked.
set -euo pipefail
started=$EPOCHREALTIME
here=$(cd "$(dirname "$0")" && pwd)
# The runs of one checkout share its build folders: a second one waits for the first.
mkdir -p "$here/build"
exec {lock}>"$here/build/.test.lock"
if ! flock -n "$lock"; then
  echo "Another ./test.sh is running in this checkout; waiting for it to end."
  flock "$lock"
fi
root=$here
logs="$here/build/stages"
rm -rf "$logs"
mkdir -p "$logs"
source "$here/scripts/stages.sh"

shell=$BASHPID
cpu=$(children_ms "$shell")
source "$here/scripts/setup.sh" test packages
stage_done packages 0 "$started" "$cpu"

# Tests run side by side: each plays its device on a pseudo-terminal of its own, and most of
# their time is spent waiting for the program.
side_by_side=$(($(nproc) * 2))
suite() {
  cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 \
    --parallel "$side_by_side"
}
# Stopped for 300 ms of every 330, the tests hardly use the processor, so all of them run at
# once; Qt Test's own time limit is stretched to match (pause-harness.sh).
paused_suites() {
  cd "$build" && QT_QPA_PLATFORM=offscreen QELNOR_SOAK_STEPS=2000 \
    "$root/scripts/pause-harness.sh" ctest \
    --output-on-failure --timeout 3000 --parallel 10 \
    -R '^(tst_(form1|commands|replies|resources|soak|cli|commission|commandlines)|man_pages)$'
}
sanitized_and_fuzzed() {
  stage "sanitized build" "$root/scripts/clang-build.sh" "" || return
  local status=0
  stage "sanitized suite" "$root/scripts/sanitized.sh" &
  local sanitized=$!
  stage "fuzz" "$root/scripts/fuzz-briefly.sh" || status=1
  wait "$sanitized" || status=1
  return "$status"
}

# The build in build/ and what runs from it, at the usual priority.
built_and_tested() {
  stage build setup_build || return
  local status=0
  stage suite suite &
  local suite=$!
  stage "paused suites" paused_suites || status=1
  wait "$suite" || status=1
  return "$status"
}
# Runs its arguments, and what they start, at a lower priority.
behind() {
  renice -n 10 -p "$BASHPID" >/dev/null
  "$@"
}

behind sanitized_and_fuzzed &
lanes=($!)
behind stage "Debian 13 suite" "$root/scripts/debian13-suite.sh" &
lanes+=($!)
built_and_tested &
lanes+=($!)
status=0
for lane in "${lanes[@]}"; do
  wait "$lane" || status=1
done

# The whole output of what failed, then the suite's own report and the times; what was not
# checked comes last, where a summary is read.
while IFS=$'\t' read -r name result _; do
  if [ "$result" != 0 ]; then
    echo
    echo "=== $name failed; its whole output ($(stage_log "$name")):"
    cat "$(stage_log "$name")"
  fi
done <"$logs/times"
echo
sed -n '/^Test project/,$p' "$(stage_log suite)" 2>/dev/null || true
grep -h -E '^[a-z]+ +[0-9]+ executions' "$(stage_log fuzz)" 2>/dev/null || true
for name in "sanitized suite" "paused suites"; do
  said=$(grep -h -m1 -E 'tests passed' "$(stage_log "$name")" 2>/dev/null) || continue
  echo "$name: $said"
done
grep -h -m1 -E '^Debian 13 suite .*tests passed' "$(stage_log "Debian 13 suite")" 2>/dev/null ||
  true
stage_table "$started"
grep -h 'NOT checked' "$logs"/*.log || true
exit "$status"
