#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display.
source "$(dirname "$0")/scripts/setup.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
