#!/usr/bin/env bash
# Configures a build folder when needed (scripts/configure.sh) and builds in it, showing how far
# it has come a tenth at a time with the compiler's words only when it fails (all of it in
# BUILD_DIR/build.log). Two builds of one folder take turns, so that scripts running at once
# (the sanitized suite and the fuzz targets share build-asan/) never build the same files
# together.
#   scripts/build.sh BUILD_DIR PREFIX [CMAKE_OPTION...] [-- TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
prefix=$2
shift 2
options=()
while (($#)) && [ "$1" != -- ]; do
  options+=("$1")
  shift
done
[ "${1:-}" = -- ] && shift
targets=()
(($#)) && targets=(--target "$@")

mkdir -p "$build"
exec {lock}>"$build/.build.lock"
flock "$lock"
# Ninja: a build with nothing to do costs nothing, where Make runs every target's moc check.
"$root/scripts/configure.sh" "$root" "$build" -G Ninja "${options[@]}"
if ! cmake --build "$build" --parallel "$(nproc)" "${targets[@]}" 2>&1 |
  "$root/scripts/progress.sh" "$build/build.log" "$prefix"; then
  cat "$build/build.log"
  echo "Building in $build failed; the compiler's words are above."
  exit 1
fi
