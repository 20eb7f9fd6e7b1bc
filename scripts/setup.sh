# Shared by run.sh and test.sh: make sure the Debian packages are there, then configure and
# build into ./build. Sourced, not run, with what it is for:
#   source scripts/setup.sh run    what building and running the programs needs; builds them
#   source scripts/setup.sh test   that and what the tests need; builds everything
set -euo pipefail

purpose=${1:?"say run or test"}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Building and running: the compiler, CMake, Qt with its serial port module, and the two faces
# the window asks for by name.
run_packages=(build-essential cmake qt6-base-dev qt6-serialport-dev fonts-arphic-uming
  fonts-dejavu-core)
# The tests besides: clang and its sanitizer runtime for the fuzz targets; lintian, appstream
# and desktop-file-utils for the package test; help2man, which makes the command-line program's
# manual page, and man-db, with which the test reads both pages.
test_packages=(clang libclang-rt-14-dev lintian appstream desktop-file-utils help2man man-db)

case "$purpose" in
run) "$root/scripts/need-packages.sh" "${run_packages[@]}" ;;
test) "$root/scripts/need-packages.sh" "${run_packages[@]}" "${test_packages[@]}" ;;
*)
  echo "setup.sh: say run or test, not \"$purpose\"" >&2
  exit 2
  ;;
esac

# One build folder for both. Made by run.sh, it leaves out the test suites (QELNOR_TESTS=OFF);
# test.sh switches them on, and run.sh later builds only the programs in it either way.
build="$root/build"
tests=$([ "$purpose" = test ] && echo ON || echo OFF)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELNOR_WERROR=ON \
    -DQELNOR_TESTS="$tests" >/dev/null
elif [ "$purpose" = test ] && grep -q '^QELNOR_TESTS:BOOL=OFF$' "$build/CMakeCache.txt"; then
  cmake "$build" -DQELNOR_TESTS=ON >/dev/null
fi
if [ "$purpose" = run ]; then
  cmake --build "$build" --parallel "$(nproc)" --target qelnor-setup qelnor-cli
else
  cmake --build "$build" --parallel "$(nproc)"
fi
