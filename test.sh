#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display: the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short pass of every fuzz target, the suite
# on Debian 13 (Qt 6.8) in a chroot when run as root on another release, then the suite itself,
# whose summary ends the output.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# The runs of one checkout share its build folders: a second one waits for the first.
mkdir -p "$here/build"
exec {lock}>"$here/build/.test.lock"
if ! flock -n "$lock"; then
  echo "Another ./test.sh is running in this checkout; waiting for it to end."
  flock "$lock"
fi
source "$here/scripts/setup.sh" test
echo "Sanitized suite: building into build-asan/ (several minutes the first time), then every test:"
"$root/scripts/sanitized.sh" 2>&1 | "$root/scripts/progress.sh" "$build/sanitized.log" || {
  cat "$build/sanitized.log"
  echo "The sanitized test run failed; its output is above."
  exit 1
}
echo "Sanitized suite: $(grep -E 'tests passed' "$build/sanitized.log")"
"$root/scripts/fuzz-briefly.sh"
"$root/scripts/debian13-suite.sh" | tee "$build/debian13.said"
cd "$build"
status=0
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 || status=$?
# What was not checked comes last too, where a summary is read.
grep -h 'NOT checked' "$build/debian13.said" || true
exit "$status"
