#!/usr/bin/env bash
# Configures a build folder unless its cache already holds every -DNAME=VALUE asked for and
# the same source folder: an option that changed since reaches an existing build folder (one
# a preset or an older script configured, say), and a build that is as asked costs nothing.
# A folder that another generator made (-G) starts afresh.
#   scripts/configure.sh SOURCE_DIR BUILD_DIR [-DNAME=VALUE | -G GENERATOR | other cmake option]...
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build=$2
shift 2
cache="$build/CMakeCache.txt"
generator=
for ((i = 1; i < $#; i++)); do
  [ "${!i}" = -G ] && j=$((i + 1)) && generator=${!j}
done

# The value the cache holds for NAME, whatever its type.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$cache" | head -n1; }

as_asked() {
  [ -f "$cache" ] && [ "$(cached CMAKE_HOME_DIRECTORY)" = "$source_dir" ] || return 1
  [ -z "$generator" ] || [ "$(cached CMAKE_GENERATOR)" = "$generator" ] || return 1
  local option name
  for option in "$@"; do
    [[ "$option" == -D*=* ]] || continue
    name=${option#-D}
    name=${name%%=*}
    [ "$(cached "${name%%:*}")" = "${option#*=}" ] || return 1
  done
}

if ! as_asked "$@"; then
  fresh=()
  if [ -f "$cache" ]; then
    echo "Configuring $build again: its options differ from those asked for."
    [ -z "$generator" ] || [ "$(cached CMAKE_GENERATOR)" = "$generator" ] || fresh=(--fresh)
  fi
  cmake "${fresh[@]}" -S "$source_dir" -B "$build" "$@" >/dev/null
fi
