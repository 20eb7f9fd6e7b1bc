#!/usr/bin/env bash
# Makes the Windows package on Linux and checks it under Wine: builds (once, then cached) a
# minimal Qt for 64-bit Windows from the Qt source archives in $QT_SOURCES (default
# ../shared/qt-sources), cross-builds the program with warnings as errors, packs
# dist/windows/*.zip and a 64-bit installer, and runs the checks of scripts/windows-check.sh.
# Ends non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
export QT_SOURCES=${QT_SOURCES:-$root/../shared/qt-sources}

"$root/scripts/need-packages.sh" cmake ninja-build qt6-base-dev qt6-base-dev-tools mingw-w64 \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix nsis zip unzip wine wine64 xvfb xauth \
  xdotool xclip x11-apps netpbm python3 fonts-arphic-uming fonts-dejavu-core

qt=$("$root/scripts/windows-qt.sh" | tail -n1)
"$root/scripts/windows-package.sh" "$qt"
"$root/scripts/windows-check.sh" "$qt"
