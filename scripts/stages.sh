# Sourced by test.sh: runs its stages, side by side where they can be, keeping each one's whole
# output in a log of its own and its times, wall clock and processor (user and system, all its
# processes), for the table that ends the run. Needs $root and $logs.

# Processor time in milliseconds that the finished child processes of a shell have used, read
# from its cutime and cstime: children_ms "$BASHPID" (a stage running in the background is a
# shell of its own, and $(...) another).
children_ms() {
  awk -v tick="$(getconf CLK_TCK)" \
    '{ sub(/^.*\) /, ""); printf "%d\n", ($14 + $15) * 1000 / tick }' "/proc/$1/stat"
}

# Milliseconds of the wall clock since a time taken from $EPOCHREALTIME.
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d\n", (b - a) * 1000 }'; }

# Notes a stage's times: stage_done NAME STATUS START_WALL START_CPU, in the shell that ran it.
stage_done() {
  local shell=$BASHPID
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$(since "$3")" "$(($(children_ms "$shell") - $4))" \
    >>"$logs/times"
}

# Runs a stage: stage NAME COMMAND [ARGUMENT...]. Its output goes to $logs/NAME.log; what shows
# is how far it has come (scripts/progress.sh), each line headed by its name. Returns the
# command's status.
stage() {
  local name=$1 start=$EPOCHREALTIME shell=$BASHPID cpu status=0
  shift
  cpu=$(children_ms "$shell")
  echo "$name: started"
  "$@" 2>&1 | "$root/scripts/progress.sh" "$(stage_log "$name")" "$name: " || status=$?
  stage_done "$name" "$status" "$start" "$cpu"
  return "$status"
}

stage_log() { echo "$logs/${1// /-}.log"; }

# Minutes, as the table shows them.
minutes() { awk -v ms="$1" 'BEGIN { printf "%.1f min", ms / 60000 }'; }

# The table of every stage's times, in the order they ended, and the whole run's since START.
#   stage_table START
stage_table() {
  local name status wall cpu result total_cpu=0
  printf '\n%-18s %9s %10s  %s\n' stage wall processor result
  while IFS=$'\t' read -r name status wall cpu; do
    total_cpu=$((total_cpu + cpu))
    if [ "$status" != 0 ]; then
      result="FAILED (status $status)"
    elif grep -q 'NOT checked' "$(stage_log "$name")" 2>/dev/null; then
      result="NOT checked"
    else
      result=passed
    fi
    printf '%-18s %9s %10s  %s\n' "$name" "$(minutes "$wall")" "$(minutes "$cpu")" "$result"
  done <"$logs/times"
  printf '%-18s %9s %10s\n' "all" "$(minutes "$(since "$1")")" "$(minutes "$total_cpu")"
}
