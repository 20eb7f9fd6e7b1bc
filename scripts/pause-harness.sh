#!/usr/bin/env bash
# Runs a command as a busy machine runs it: its whole process group is stopped for STOP_MS
# (300 by default), then let run for RUN_MS (30), again and again until it ends. A test that
# holds here waits on conditions, not on the clock. Exits with the command's status.
#   scripts/pause-harness.sh COMMAND [ARGUMENT...]
#   scripts/pause-harness.sh ctest -R 'tst_(form1|commands|replies|cli)'
set -euo pipefail
(($#)) || {
  echo "usage: $0 COMMAND [ARGUMENT...]" >&2
  exit 2
}
stop_ms=${STOP_MS:-300}
run_ms=${RUN_MS:-30}
stop=$(awk -v ms="$stop_ms" 'BEGIN { print ms / 1000 }')
run=$(awk -v ms="$run_ms" 'BEGIN { print ms / 1000 }')
# Qt Test's watchdog ends a test function after 5 minutes of the clock; here the clock runs as
# many times faster than the command as the pauses stretch it.
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-$((300000 * (stop_ms + run_ms) / run_ms))}

# A session, and so a process group, of its own whose id is the command's: what it starts is
# stopped with it, and nothing else is.
setsid "$@" &
pid=$!
# Never leave the command stopped: an interrupted harness lets it go on and end.
trap 'kill -CONT -- -"$pid" 2>/dev/null; kill -TERM -- -"$pid" 2>/dev/null' INT TERM
trap 'kill -CONT -- -"$pid" 2>/dev/null || true' EXIT
cycles=0
while kill -0 "$pid" 2>/dev/null; do
  sleep "$run"
  kill -STOP -- -"$pid" 2>/dev/null || break
  sleep "$stop"
  kill -CONT -- -"$pid" 2>/dev/null || break
  cycles=$((cycles + 1))
done
status=0
wait "$pid" || status=$?
echo "pause-harness: $cycles pauses of $stop_ms ms, status $status" >&2
exit "$status"
