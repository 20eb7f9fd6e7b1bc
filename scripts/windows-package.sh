#!/usr/bin/env bash
# Cross-builds the program and the tests that need no pseudo-terminal for 64-bit Windows against
# the Qt in $1, deploys the program with only the DLLs and plugins it loads, and packs a portable
# zip and a 64-bit NSIS installer into dist/windows. Called by windows.sh.
set -euo pipefail

qt=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sources=${QT_SOURCES:-$root/../shared/qt-sources}
build="$root/build-windows"
out="$root/dist/windows"
triple=x86_64-w64-mingw32
version=$(sed -n 's/^project(qelnor-setup VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="qelnor-setup-$version-win64"
app="$out/$name"
# Where the compiler's own runtime DLLs live (libstdc++, libgcc_s, winpthread).
runtime_dirs=("$(dirname "$($triple-g++-posix -print-file-name=libstdc++-6.dll)")"
  "$(dirname "$($triple-g++-posix -print-file-name=libwinpthread-1.dll)")")

# A build made against another Qt (another cache key) starts afresh: CMake would keep using
# the Qt it found first.
if [ -f "$build/CMakeCache.txt" ] &&
  ! grep -qx "QELNOR_QT_PREFIX:[A-Z]*=$qt" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
# The build: warnings are errors, as in every build of the project's own checks.
mkdir -p "$root/dist"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQELNOR_QT_PREFIX="$qt" \
  -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQELNOR_WINDOWS_DEVICE_TESTS=ON -DQELNOR_WERROR=ON \
  >"$out.configure.log" 2>&1 || {
  cat "$out.configure.log"
  exit 1
}
cmake --build "$build" --parallel 2 --target qelnor-setup qelnor-cli tst_frames tst_address \
  tst_replytext tst_terminationsignal tst_captions
# The tests run with the program's DLLs (windows-check.sh), and Qt Test's, which is not shipped.
# A window's test finds the platform and style plugins beside it, as the program does.
cp "$qt/bin/Qt6Test.dll" "$build/"
mkdir -p "$build/platforms" "$build/styles"
cp "$qt/plugins/platforms/qwindows.dll" "$build/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$build/styles/"

rm -rf "$out"
mkdir -p "$app/platforms" "$app/styles" "$app/licenses"
cp "$build/qelnor-setup.exe" "$build/qelnor-cli.exe" "$app/"
# The program's own licence, with Windows line ends so that Notepad shows its lines.
sed 's/$/\r/' "$root/LICENSE" >"$app/LICENSE.txt"
cp "$qt/plugins/platforms/qwindows.dll" "$app/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$app/styles/"

# Follows the DLL imports of everything in the folder: a DLL found in Qt's bin folder or
# beside the compiler is copied, and its own imports followed; the rest are the system's.
dll_dirs=("$qt/bin" "${runtime_dirs[@]}")
pending=("$app/qelnor-setup.exe" "$app/qelnor-cli.exe" "$app/platforms/qwindows.dll"
  "$app/styles/qwindowsvistastyle.dll")
while ((${#pending[@]})); do
  file=${pending[0]}
  pending=("${pending[@]:1}")
  while read -r dll; do
    [ -e "$app/$dll" ] && continue
    for dir in "${dll_dirs[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$app/"
        pending+=("$app/$dll")
        break
      fi
    done
  done < <($triple-objdump -p "$file" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p')
done
find "$app" \( -name '*.exe' -o -name '*.dll' \) -exec $triple-strip --strip-unneeded {} +

# What the LGPL asks of a program that carries Qt's DLLs: the licence texts, which Qt is
# inside, and where its source can be had. The third-party notices are those of the parts
# that Qt's own DLLs carry.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
base_archive=$(find "$sources" -maxdepth 1 \( -name 'qt6-base_*.orig.tar.xz' -o \
  -name 'qtbase-everywhere-src-*.tar.xz' \) | head -n1)
serial_archive=$(find "$sources" -maxdepth 1 -name 'qtserialport-*.tar.xz' | head -n1)
third_party=(blake2 double-conversion easing freetype harfbuzz-ng icc libjpeg libpng md4c pcre2
  rfc6234 sha3 tinycbor zlib)
tar -xJf "$base_archive" -C "$tmp" --wildcards '*/LICENSES/LGPL-3.0-only.txt' \
  '*/LICENSES/GPL-3.0-only.txt' '*/src/3rdparty/*LICEN[CS]E*' '*/src/3rdparty/*/COPYING' \
  '*/src/3rdparty/freetype/docs/FTL.TXT'
base_src=$(find "$tmp" -maxdepth 1 -type d -name 'qtbase-*')
cp "$base_src/LICENSES/LGPL-3.0-only.txt" "$base_src/LICENSES/GPL-3.0-only.txt" "$app/licenses/"
for p in "${third_party[@]}"; do
  mkdir -p "$app/licenses/qt-third-party/$p"
  find "$base_src/src/3rdparty/$p" -maxdepth 1 -type f -exec cp {} "$app/licenses/qt-third-party/$p/" \;
done
cp "$base_src/src/3rdparty/freetype/docs/FTL.TXT" "$app/licenses/qt-third-party/freetype/"
mkdir -p "$app/licenses/compiler-runtime"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$app/licenses/compiler-runtime/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$app/licenses/compiler-runtime/mingw-w64.txt"
patches=$(ls "$root"/scripts/qt-patches/*.patch 2>/dev/null || true)
{
  echo "This program uses the Qt toolkit ($(sed -n 1p "$qt/.complete" | cut -d' ' -f1)), under"
  echo "the GNU Lesser General Public License version 3 (LGPL-3.0-only.txt; it builds on the"
  echo "GNU GPL version 3, GPL-3.0-only.txt)."
  echo
  echo "Qt modules inside, as DLLs that can be replaced by your own builds of the same version:"
  for dll in "$app"/Qt6*.dll; do echo "  $(basename "$dll")"; done
  echo "  platforms/qwindows.dll, styles/qwindowsvistastyle.dll (plugins of Qt GUI and Widgets)"
  echo
  echo "Built from these source archives:"
  echo "  $(basename "$base_archive") (Debian 12: apt-get source qt6-base;"
  echo "    https://deb.debian.org/debian/pool/main/q/qt6-base/), Debian's repack of"
  echo "    qtbase-everywhere-src-6.4.2.tar.xz (https://download.qt.io/archive/qt/6.4/6.4.2/submodules/)"
  echo "    with a few bundled third-party files left out"
  echo "  $(basename "$serial_archive") (Qt Serial Port 6.4.2: the v6.4.2 tag of"
  echo "    https://code.qt.io/qt/qtserialport.git, released as qtserialport-everywhere-src-6.4.2.tar.xz"
  echo "    at https://download.qt.io/archive/qt/6.4/6.4.2/submodules/)"
  if [ -n "$patches" ]; then
    echo "with these patches, shipped in the program's source under scripts/qt-patches:"
    for p in $patches; do echo "  $(basename "$p")"; done
  else
    echo "No patch was applied."
  fi
  echo
  echo "Configure options: $(cut -d' ' -f2- "$qt/.complete")"
  echo "Compiler: $($triple-g++-posix --version | head -n1); its runtime DLLs (libstdc++-6,"
  echo "libgcc_s_seh-1: GPL-3.0 with the GCC Runtime Library Exception; libwinpthread-1: MIT-style"
  echo "licence) are described in compiler-runtime/."
  echo
  echo "Qt's third-party parts built into Qt6Core.dll and Qt6Gui.dll keep their own notices, in"
  echo "qt-third-party/."
} | sed 's/$/\r/' >"$app/licenses/README-Qt.txt"

# The portable zip: one folder to unpack anywhere and run.
(cd "$out" && zip -qr -9 "$name.zip" "$name")

# The installer, 64-bit: a 32-bit one would not start where only 64-bit programs run.
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$app" \
  -DOUTFILE="$out/$name-setup.exe" "$root/packaging/windows/qelnor-setup.nsi"
echo "Windows package: $out/$name.zip ($(du -k "$out/$name.zip" | cut -f1) KiB)," \
  "$out/$name-setup.exe ($(du -k "$out/$name-setup.exe" | cut -f1) KiB)"
