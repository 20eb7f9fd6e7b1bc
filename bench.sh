#!/usr/bin/env bash
# Builds the program and its bench-only executables in release mode into ./build-release and
# measures start-up, memory, send and reply latency and idle CPU against a bare Qt program,
# with a pseudo-terminal as the device and no display. Not a test: it prints a table.
#   ./bench.sh                      20 runs, 10 idle runs of 5 s
#   RUNS=50 IDLE_RUNS=3 ./bench.sh  other counts
set -euo pipefail

root=$(cd "$(dirname "$0")" && pwd)
build="$root/build-release"

for p in build-essential cmake qt6-base-dev qt6-serialport-dev fonts-arphic-uming; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "Missing package $p: run ./test.sh once, or apt-get install it." >&2
    exit 1
  fi
done

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target \
  qelnor-setup bench-start-form bench-start-bare bench-probe-form bench-probe-bare bench-driver \
  >/dev/null

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
QT_QPA_PLATFORM=offscreen "$build/bench/bench-driver" "$build/bench"
