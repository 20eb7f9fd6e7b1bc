# Shared by run.sh and test.sh: make sure the Debian packages are there, then configure and
# build into ./build. Sourced, not run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# lintian, appstream and desktop-file-utils are for the package test only; run.sh installs them
# too so that both share one list. help2man makes the command-line program's manual page.
"$root/scripts/need-packages.sh" build-essential cmake qt6-base-dev qt6-serialport-dev \
  fonts-arphic-uming fonts-dejavu-core clang lintian appstream \
  desktop-file-utils help2man
# The fuzzers and sanitizers need the runtime of the release's default clang (14 on Debian 12,
# 19 on Debian 13), known only once clang is there.
"$root/scripts/need-packages.sh" "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"

build="$root/${QELNOR_BUILD_DIR:-build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQELNOR_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"
