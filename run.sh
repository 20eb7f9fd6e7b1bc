#!/usr/bin/env bash
# Installs what running needs if it is missing (the compiler, CMake, Qt, the fonts), builds the
# two programs (not the tests), and starts the window. Arguments go to the program:
# ./run.sh --version.
source "$(dirname "$0")/scripts/setup.sh" run
exec "$build/qelnor-setup" "$@"
