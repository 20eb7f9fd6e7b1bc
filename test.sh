#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display: the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short pass of every fuzz target, then the
# suite itself, whose summary ends the output.
source "$(dirname "$0")/scripts/setup.sh" test
"$root/scripts/sanitized.sh" >"$build/sanitized.log" 2>&1 || {
  cat "$build/sanitized.log"
  echo "The sanitized test run failed; its output is above."
  exit 1
}
echo "Sanitized suite: $(grep -E 'tests passed' "$build/sanitized.log")"
"$root/scripts/fuzz-briefly.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
