#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window.
source "$(dirname "$0")/scripts/setup.sh"
exec "$build/qelnor-setup" "$@"
