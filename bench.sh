#!/usr/bin/env bash
# Builds the programs and their bench-only executables in release mode into ./build-release and
# measures, with a pseudo-terminal as the device and no display:
#   - the window program's start-up, memory, send and reply latency and idle CPU against a bare
#     Qt program, and the longest stall of its event loop while it closes with a deep queue at
#     1200 baud;
#   - qelnor-cli from start to exit for one command against a device that answers after 20 ms,
#     the same with --wait 0, and a bare QCoreApplication as the floor;
#   - qelnor-cli commission over a plan of 40 devices against the same device, with --wait 1.
# Not a test: it prints three tables.
#   ./bench.sh                                    20 runs, 10 idle runs of 5 s, 3 --listen runs
#   RUNS=50 IDLE_RUNS=3 LISTEN_RUNS=0 ./bench.sh  other counts
#   ./bench.sh cli                                the command-line program only
set -euo pipefail

root=$(cd "$(dirname "$0")" && pwd)
build="$root/build-release"
what=${1:-all}
case "$what" in
all | cli | window) ;;
*)
  echo "usage: ./bench.sh [all|window|cli]" >&2
  exit 2
  ;;
esac

for p in build-essential cmake qt6-base-dev qt6-serialport-dev fonts-arphic-uming; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "Missing package $p: run ./run.sh once, or apt-get install it." >&2
    exit 1
  fi
done

"$root/scripts/configure.sh" "$root/bench" "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel "$(nproc)" --target \
  qelnor-setup qelnor-cli bench-start-form bench-start-bare bench-probe-form bench-probe-bare \
  bench-driver bench-cli bench-start-core bench-commission bench-close >/dev/null

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
if [ "$what" != cli ]; then
  QT_QPA_PLATFORM=offscreen "$build/bench/bench-driver" "$build/bench"
  echo
  QT_QPA_PLATFORM=offscreen "$build/bench/bench-close"
fi
if [ "$what" != window ]; then
  [ "$what" = cli ] || echo
  "$build/bench/bench-cli" "$build/bench" "$build/qelnor-cli"
  echo
  "$build/bench/bench-commission" "$build/bench" "$build/qelnor-cli"
fi
