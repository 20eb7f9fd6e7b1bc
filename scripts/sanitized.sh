#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers into ./build-asan (the
# clang build the fuzz targets share, scripts/clang-build.sh) and runs the whole test suite there,
# its tests side by side. Fails on a failing test and on any sanitizer report, leaks included; the
# reports are kept in build-asan/sanitizer-reports/ and printed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-asan"
"$root/scripts/clang-build.sh" ""

# Reports go to files, where none is lost in ctest's output or in a child process; the test
# that caused one fails by its exit code as well.
reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Some tests bound the growth of the resident set; the default 256 MB quarantine of freed
# memory would count against them. A small one still catches a use soon after a free.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=4:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"

status=0
# The package check is about the release build's files, not about memory errors.
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 \
  --parallel "$(($(nproc) * 2))" -E package_deb) || status=1

found=$(find "$reports" -type f)
if [ -n "$found" ]; then
  for report in $found; do
    echo "=== $report"
    cat "$report"
  done
  echo "Sanitizer reports: $(echo "$found" | wc -l)"
  status=1
fi
exit "$status"
