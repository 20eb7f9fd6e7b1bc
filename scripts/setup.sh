# Shared by run.sh and test.sh: make sure the Debian packages are there, then configure and
# build into ./build. Sourced, not run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# lintian, appstream and desktop-file-utils are for the package test only; run.sh installs them
# too so that both share one list. help2man makes the command-line program's manual page.
"$root/scripts/need-packages.sh" build-essential cmake qt6-base-dev qt6-serialport-dev \
  fonts-arphic-uming fonts-dejavu-core clang libclang-rt-14-dev lintian appstream \
  desktop-file-utils help2man

build="$root/build"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQELNOR_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"
