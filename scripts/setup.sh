# Shared by run.sh and test.sh: make sure the Debian packages are there, then configure and
# build into ./build. Sourced, not run.
set -euo pipefail

# lintian, appstream and desktop-file-utils are for the package test only; run.sh installs them
# too so that both share one list. help2man makes the command-line program's manual page.
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev fonts-arphic-uming fonts-dejavu-core
  clang libclang-rt-14-dev lintian appstream desktop-file-utils help2man)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing packages. Run once:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)"
