#!/usr/bin/env bash
# Both manual pages as man shows them in a UTF-8 terminal: no warning from man --warnings at
# the usual terminal widths, and each page's SEE ALSO names the other program.
#   check_man_pages.sh QELNOR_SETUP_PAGE QELNOR_CLI_PAGE
set -euo pipefail
export LC_ALL=C.UTF-8

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

check() {
  local page=$1 other=$2 width warnings see_also
  [ -f "$page" ] || { fail "no page $page"; return; }
  for width in 60 80 100 132; do
    warnings=$(MANWIDTH=$width man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page") at $width columns: $warnings"
  done
  see_also=$(MANWIDTH=80 man -l "$page" 2>/dev/null | sed -n '/^SEE ALSO/,/^[^ ]/p')
  grep -q "$other(1)" <<<"$see_also" ||
    fail "$(basename "$page"): SEE ALSO does not name $other(1): $see_also"
  echo "$(basename "$page"): checked"
}

check "$1" qelnor-cli
check "$2" qelnor-setup
exit $((failures > 0))
