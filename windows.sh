#!/usr/bin/env bash
# Makes the Windows package on Linux and checks it under Wine: builds (once, then cached) a
# minimal Qt for 64-bit Windows from the Qt source archives in $QT_SOURCES (default
# ../shared/qt-sources), or unpacks the ready one in $QT_PREBUILT (default ../shared/qt-prebuilt)
# when it fits, cross-builds the program with warnings as errors, packs dist/windows/*.zip and a
# 64-bit installer, and runs the checks of scripts/windows-check.sh under Wine 10 in the Debian
# 13 tree of scripts/debian13.sh (Debian 12's Wine 8 never hands received bytes to the
# program). Needs root for that tree. Ends non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
export QT_SOURCES=${QT_SOURCES:-$root/../shared/qt-sources}

"$root/scripts/need-packages.sh" cmake ninja-build qt6-base-dev qt6-base-dev-tools mingw-w64 \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix nsis zip unzip

qt=$("$root/scripts/windows-qt.sh" | tail -n1)
"$root/scripts/windows-package.sh" "$qt"
"$root/scripts/debian13.sh" wine wine64 xvfb xauth xdotool xclip x11-apps netpbm python3 gcc \
  libc6-dev fonts-arphic-uming fonts-dejavu-core procps unzip -- "$root/scripts/windows-check.sh"
