#!/usr/bin/env bash
# Builds, once, the minimal shared Qt for 64-bit Windows that windows.sh links against, and
# prints its prefix on the last line of stdout. The build is cached under
# ~/.cache/qelnor-setup/<key>, where the key changes with the Qt version, the configure flags,
# the toolchain file, the compiler and any patch in scripts/qt-patches, so a changed recipe
# never reuses a stale Qt. A ready archive of that same folder in $QT_PREBUILT (default
# ../shared/qt-prebuilt), named by the key and listed with a matching checksum in its SHA256SUMS,
# is unpacked instead of building (seconds instead of about 40 minutes). Runs at once, from two
# checkouts say, take turns on the cache entry (flock) and build in scratch folders of their
# own. Everything else goes to stderr.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qt_version=6.4.2
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
patches="$root/scripts/qt-patches"
sources=${QT_SOURCES:-$root/../shared/qt-sources}
prebuilt=${QT_PREBUILT:-$root/../shared/qt-prebuilt}
jobs=${QELNOR_JOBS:-2}

# Debian's own Qt $qt_version provides moc, rcc and uic for the host side of the build.
host_flags=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
# Only what the program and its tests use: Core, Gui, Widgets, Test, and the windows platform
# and style plugins. OpenGL goes through INPUT_opengl: FEATURE_opengl=OFF alone leaves dynamic
# OpenGL on, whose code the windows platform plugin then fails to compile. Debian's source
# archive lacks wintab.h, hence no tablet events. Direct2D stays on: in 6.4 the windows
# platform plugin needs the DirectWrite font database that Gui only builds along with it.
qt_flags=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF -DFEATURE_pkg_config=OFF -DFEATURE_icu=OFF -DINPUT_opengl=no
  -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF
  -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_testlib=ON -DFEATURE_widgets=ON)

base_archive=
for name in qt6-base_$qt_version+dfsg.orig.tar.xz qtbase-everywhere-src-$qt_version.tar.xz; do
  [ -f "$sources/$name" ] && base_archive="$sources/$name" && break
done
serial_archive=
for name in qtserialport-$qt_version.tar.xz qtserialport-everywhere-src-$qt_version.tar.xz; do
  [ -f "$sources/$name" ] && serial_archive="$sources/$name" && break
done
if [ -z "$base_archive" ] || [ -z "$serial_archive" ]; then
  cat >&2 <<MSG
The Qt $qt_version source archives are missing from $sources
(set QT_SOURCES to the folder that holds them). Needed:
  qt6-base_$qt_version+dfsg.orig.tar.xz  (Debian 12: apt-get source qt6-base), or
  qtbase-everywhere-src-$qt_version.tar.xz  (https://download.qt.io/archive/qt/6.4/$qt_version/submodules/)
  qtserialport-$qt_version.tar.xz  (an archive of the v$qt_version tag of
                                   https://code.qt.io/qt/qtserialport.git), or
  qtserialport-everywhere-src-$qt_version.tar.xz  (the same Qt archive folder)
MSG
  exit 1
fi
if [ -f "$sources/SHA256SUMS" ]; then
  (cd "$sources" && sha256sum --quiet --ignore-missing -c SHA256SUMS) >&2 || {
    echo "The Qt source archives in $sources do not match their SHA256SUMS." >&2
    exit 1
  }
fi

compiler=$(x86_64-w64-mingw32-g++-posix --version | head -n1)
key=$(
  {
    echo "$qt_version ${qt_flags[*]} $compiler"
    cat "$toolchain"
    cat "$patches"/*.patch 2>/dev/null || true
  } | sha256sum | cut -c1-16
)
cache="$HOME/.cache/qelnor-setup"
name="qt-$qt_version-mingw64-$key"
prefix="$cache/$name"
mkdir -p "$cache"
exec {lock}>"$prefix.lock"
if ! flock -n "$lock"; then
  echo "Qt $qt_version for Windows: another run is making $prefix; waiting for it" >&2
  flock "$lock"
fi
if [ -f "$prefix/.complete" ]; then
  echo "Qt $qt_version for Windows: cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

archive="$prebuilt/$name.tar.xz"
if [ -f "$archive" ] && [ -f "$prebuilt/SHA256SUMS" ] &&
  (cd "$prebuilt" && grep " $name.tar.xz\$" SHA256SUMS | sha256sum --quiet -c -) >&2; then
  echo "Qt $qt_version for Windows: unpacking the ready build $archive" >&2
  rm -rf "$prefix"
  tar -xJf "$archive" -C "$cache"
  if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
  fi
  echo "Qt $qt_version for Windows: $archive holds no finished build; building instead" >&2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qelnor-qt-$key.XXXXXX")
rm -rf "$prefix"
log="$scratch/build.log"
echo "Qt $qt_version for Windows: building once into $prefix (about 35 minutes on 2 cores;" \
  "log in $log)" >&2
fail() {
  tail -n 40 "$log" >&2
  echo "Building Qt for Windows failed; the whole log is $log" >&2
  exit 1
}

{
  tar -xJf "$base_archive" -C "$scratch"
  tar -xJf "$serial_archive" -C "$scratch"
} >>"$log" 2>&1 || fail
base_src=$(find "$scratch" -maxdepth 1 -type d -name 'qtbase-*' | head -n1)
serial_src=$(find "$scratch" -maxdepth 1 -type d -name 'qtserialport*' | head -n1)
for p in "$patches"/*.patch; do
  [ -f "$p" ] || continue
  patch -d "$base_src" -p1 <"$p" >>"$log" 2>&1 || fail
done

{
  cmake -S "$base_src" -B "$scratch/build-base" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${host_flags[@]}" "${qt_flags[@]}" &&
    cmake --build "$scratch/build-base" --parallel "$jobs" &&
    cmake --install "$scratch/build-base" &&
    cmake -S "$serial_src" -B "$scratch/build-serial" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
      -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF &&
    cmake --build "$scratch/build-serial" --parallel "$jobs" &&
    cmake --install "$scratch/build-serial"
} >>"$log" 2>&1 || fail

echo "$qt_version ${qt_flags[*]}" >"$prefix/.complete"
rm -rf "$scratch"
echo "$prefix"
