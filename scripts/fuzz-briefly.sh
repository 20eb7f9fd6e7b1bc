#!/usr/bin/env bash
# A short pass of every fuzz target (a few seconds each) for the regular test run; ./fuzz.sh
# with more seconds searches deeper.
set -euo pipefail
exec "$(dirname "$0")/../fuzz.sh" 8
