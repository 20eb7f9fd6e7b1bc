#!/usr/bin/env bash
# The one clang build, in build-asan/: everything, tests and fuzz targets alike, with
# AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's coverage (QELNOR_FUZZ), at -O1 and
# with line tables only, which is all a sanitizer's report needs to name files and lines. The
# sanitized suite (scripts/sanitized.sh) runs its tests, ./fuzz.sh its fuzz targets.
#   scripts/clang-build.sh PREFIX [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$1
shift
# The compiler by its full path, as the cache keeps it: a name alone would differ from the cache
# and make CMake start the folder afresh.
exec "$root/scripts/build.sh" "$root/build-asan" "$prefix" \
  -DCMAKE_CXX_COMPILER="$(command -v clang++)" -DCMAKE_C_COMPILER="$(command -v clang)" \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DQELNOR_FUZZ=ON -DQELNOR_TESTS=ON \
  -DQELNOR_WERROR=ON -DQELNOR_PCH=ON -- "$@"
