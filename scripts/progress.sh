#!/usr/bin/env bash
# Keeps a long stage's whole output in a log and shows only how far it has come: the build's
# share done, at every tenth, while something is really built (an up-to-date build shows
# nothing), and each test as CTest finishes it. Line by line as they come, so that it shows
# while the stage runs.
#   some-stage 2>&1 | scripts/progress.sh LOG [PREFIX]
set -euo pipefail
log=$1
prefix=${2:-"  "}
shown=0
built() {
  (($2 > 0 && $1 * 10 / $2 > shown)) || return 0
  shown=$(($1 * 10 / $2))
  echo "${prefix}built $(($1 * 100 / $2))%"
}
# Only compiling and linking count: the code generators announce themselves on every build.
make_step='^\[ *([0-9]+)%\] (Building|Linking) '
ninja_step='^\[([0-9]+)/([0-9]+)\] (Building|Linking) '
test_done='^ *([0-9]+/[0-9]+ Test +#.*)$'
# What a stage that shows its own progress this way says, as it says it.
inner='^ *(built [0-9]+%)$'
tee "$log" | while IFS= read -r line; do
  if [[ $line =~ $make_step ]]; then
    built "${BASH_REMATCH[1]}" 100
  elif [[ $line =~ $ninja_step ]]; then
    built "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
  elif [[ $line =~ $test_done || $line =~ $inner ]]; then
    echo "$prefix${BASH_REMATCH[1]}" | sed -E 's/ \.+ +/ /'
  fi
done
