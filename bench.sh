#!/usr/bin/env bash
# Builds the programs and their bench-only executables in release mode into ./build-release and
# measures, with a pseudo-terminal as the device:
#   - the window program's start-up and memory against the fair floor (its own form, controls,
#     captions and faces, without logic) and a window of one label, on a virtual X display
#     (Xvfb, when installed) and offscreen; its send and reply latency and idle CPU against a
#     bare Qt program, offscreen; and the longest stall of its event loop while it closes with a
#     deep queue at 1200 baud;
#   - qelnor-cli from start to exit for one command against a device that answers after 20 ms,
#     the same with --wait 0, and a bare QCoreApplication as the floor;
#   - qelnor-cli commission over a plan of 40 devices against the same device, with --wait 1.
# Not a test: it prints tables.
#   ./bench.sh                                    16 runs, 10 idle runs of 5 s, 3 --listen runs
#   RUNS=50 IDLE_RUNS=3 LISTEN_RUNS=0 ./bench.sh  other counts
#   ./bench.sh start                              the window's start-up rows only
#   ./bench.sh window | cli                       one program only
#   ./bench.sh instructions                       instructions from start to the first paint
#                                                 (valgrind --tool=callgrind), for a figure
#                                                 that does not depend on the machine's load
set -euo pipefail

root=$(cd "$(dirname "$0")" && pwd)
build="$root/build-release"
what=${1:-all}
case "$what" in
all | cli | window | start | instructions) ;;
*)
  echo "usage: ./bench.sh [all|window|start|cli|instructions]" >&2
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
  qelnor-setup qelnor-cli bench-firstpaint bench-start-floor bench-start-bare bench-probe-form \
  bench-probe-bare bench-driver bench-cli bench-start-core bench-commission bench-close >/dev/null

# A virtual X display of its own, with no window manager, for the start-up on an X server.
platforms=offscreen
if [ "$what" != cli ] && command -v Xvfb >/dev/null; then
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null; rm -f "$displayfile"' EXIT
  for _ in $(seq 100); do [ -s "$displayfile" ] && break || sleep 0.1; done
  [ -s "$displayfile" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(cat "$displayfile")"
  platforms="xcb offscreen"
elif [ "$what" != cli ]; then
  echo "Xvfb is not installed: start-up is measured offscreen only (apt-get install xvfb)." >&2
fi

# Instructions each program runs from its start to its first window painted, on each platform.
instructions() {
  local platform kind program out
  echo "| instructions to first paint (callgrind), millions | qelnor-setup | fair floor | one label |"
  echo "|---|--:|--:|--:|"
  out=$(mktemp -d)
  for platform in $platforms; do
    printf '| %s ' "$platform"
    for kind in form floor bare; do
      case $kind in
      form) program="$build/qelnor-setup" ;;
      *) program="$build/bench/bench-start-$kind" ;;
      esac
      LD_PRELOAD="$build/bench/libbench-firstpaint.so" QT_QPA_PLATFORM=$platform \
        valgrind --tool=callgrind --callgrind-out-file="$out/$kind" "$program" >/dev/null 2>&1
      printf '| %.1f ' "$(sed -n 's/^summary: //p' "$out/$kind" | awk '{print $1 / 1e6}')"
    done
    echo '|'
  done
  rm -rf "$out"
}

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
case "$what" in
instructions)
  instructions
  exit 0
  ;;
start)
  PLATFORMS=$platforms "$build/bench/bench-driver" "$build/bench" "$build/qelnor-setup" start
  exit 0
  ;;
all | window)
  PLATFORMS=$platforms QT_QPA_PLATFORM=offscreen \
    "$build/bench/bench-driver" "$build/bench" "$build/qelnor-setup"
  echo
  QT_QPA_PLATFORM=offscreen "$build/bench/bench-close"
  ;;
esac
if [ "$what" != window ]; then
  [ "$what" = cli ] || echo
  "$build/bench/bench-cli" "$build/bench" "$build/qelnor-cli"
  echo
  "$build/bench/bench-commission" "$build/bench" "$build/qelnor-cli"
fi
