# Shared by run.sh and test.sh: make sure the Debian packages are there, then configure and
# build. Sourced, not run, with what it is for:
#   source scripts/setup.sh run    what building and running the programs needs; builds them
#                                  into ./build-run, as a user's build: warnings stay warnings
#   source scripts/setup.sh test   that and what the tests need; builds everything into ./build
#                                  with warnings as errors, so that a new one stops a change
# A second argument, packages, leaves the building to the caller, who calls setup_build when it
# likes (test.sh, which starts other stages meanwhile). QELNOR_BUILD_DIR names another folder for
# the test build (the Debian 13 suite's).
set -euo pipefail

purpose=${1:?"say run or test"}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Building and running: the compiler, CMake and Ninja, Qt with its serial port module, the two faces
# the window asks for by name.
run_packages=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev
  fonts-arphic-uming fonts-dejavu-core)
# The tests besides: clang for the fuzz targets (its sanitizer runtime follows below); lintian,
# appstream and desktop-file-utils for the package test; help2man, which makes the command-line
# program's manual page, and man-db, with which the test reads both pages; Xvfb, the X server
# that turns the window program away in its no-display test.
test_packages=(clang lintian appstream desktop-file-utils help2man man-db xvfb)

case "$purpose" in
run)
  "$root/scripts/need-packages.sh" "${run_packages[@]}"
  build="$root/build-run"
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELNOR_TESTS=OFF)
  targets=(qelnor-setup qelnor-cli)
  ;;
test)
  "$root/scripts/need-packages.sh" "${run_packages[@]}" "${test_packages[@]}"
  # The runtime of the release's default clang (14 on Debian 12, 19 on Debian 13), known only
  # once clang is there.
  "$root/scripts/need-packages.sh" "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
  build="$root/${QELNOR_BUILD_DIR:-build}"
  # Optimised as Debian builds its packages, without debug information: no test reads it, and
  # it would make the precompiled headers and the build half again as slow.
  options=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DQELNOR_TESTS=ON
    -DQELNOR_WERROR=ON)
  targets=()
  ;;
*)
  echo "setup.sh: say run or test, not \"$purpose\"" >&2
  exit 2
  ;;
esac

# Progress while something is built, the compiler's words only when it fails (all of it in
# build.log), and one line when there was nothing to do.
setup_build() {
  # Returns on failure by itself: set -e does not hold in a function run as a stage's command.
  "$root/scripts/build.sh" "$build" "" "${options[@]}" -DQELNOR_PCH=ON -- "${targets[@]}" || return
  echo "Built in ${build#"$root/"}/ (the whole output: ${build#"$root/"}/build.log)."
}
[ "${2:-}" = packages ] || setup_build
