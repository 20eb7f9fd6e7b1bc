#!/usr/bin/env bash
# A short pass of every fuzz target (a few seconds of a core each) for the regular test run;
# ./fuzz.sh with seconds searches deeper.
set -euo pipefail
exec "$(dirname "$0")/../fuzz.sh" brief
