#!/bin/bash
# Faults of the Windows program's settings store under Wine: saved entries
# edited to words or to numbers beyond single precision, deleted, or stored
# as a number (REG_DWORD) instead of text. -restore must show the error
# report, naming the entry, and change nothing; a numeric command must then
# save the mode it replaces as text, and a restore must go back to it.
#
#   tests/xserver/with-xserver tests/windows-faults/wine-store-faults.sh VISTREL_EXE BOX_TEXT_EXE
#
# Needs DISPLAY (a private X server: with-xserver starts one), wine and
# xrandr. The Wine prefix and the case helpers come from
# tests/windows/wine-lib.sh. Prints one line per case; exits 1 if any failed.
set -u

if [ $# -ne 2 ] || [ -z "${DISPLAY:-}" ]; then
  echo "usage: DISPLAY=:N wine-store-faults.sh VISTREL_EXE BOX_TEXT_EXE" >&2
  exit 2
fi

# shellcheck source=tests/windows/wine-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../windows/wine-lib.sh"
wine_start vistrel-wine-faults "$1"
cp "$2" "$folder/box_text.exe"

# Runs the program with ARGS, answers its error report; sets `status` and
# `report` (the report's text, empty when none appeared).
run_reporting() {
  wine_program "$@" &
  local pid=$!
  report=$(cd "$folder" && wine box_text.exe Vistrel 30 2>>"$work/wine.log" | tr -d '\r')
  wait "$pid"
  status=$?
}

# The store's values as "NAME TYPE DATA" lines, sorted: types are checked too.
store_listing() {
  wine reg query "$store" 2>/dev/null | tr -d '\r' | awk 'NF >= 2 && $2 ~ /^REG_/ { print $1, $2, $3 }' | sort
}

set_value() {  # NAME TYPE DATA
  wine reg add "$store" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1 || fail "could not set $1"
}

# A fresh saved mode of 1024x768 at 60 Hz taken by a numeric command, with
# the display back at its start mode.
start_x_mode=
fresh_store() {
  forget_saved_mode
  run -768 -1024 -32 -60 -1
  run -restore
  [ "$(x_mode)" = "$start_x_mode" ] || fail "setup: display at $(x_mode), not $start_x_mode"
}

# -restore reports an error that matches PATTERN, and changes nothing; then a
# numeric command saves the mode in force as text and a restore goes back.
check_fault() {
  local pattern=$1 before
  before=$(store_listing)
  run_reporting -restore
  echo "report: $report"
  expect_status 1
  [ -n "$report" ] || fail "no error report appeared"
  printf '%s\n' "$report" | grep -Eq -- "$pattern" || fail "report '$report' does not match '$pattern'"
  [ "$(x_mode)" = "$start_x_mode" ] || fail "display changed to $(x_mode)"
  [ "$(store_listing)" = "$before" ] || fail "store changed: $(store_listing | tr '\n' ';')"

  run -600 -800 -32 -60 -1
  expect_status 0
  [ "$(x_mode)" = "800x600@60" ] || fail "numeric command: display at $(x_mode)"
  local saved
  saved=$(store_listing | awk '{ printf "%s=%s:%s ", $1, $2, $3 }')
  [ "$saved" = "OldBPP=REG_SZ:32 OldHeight=REG_SZ:$start_height OldRefresh=REG_SZ:$start_refresh OldWidth=REG_SZ:$start_width " ] ||
    fail "saved after the numeric command: $saved"
  run -restore
  expect_status 0
  [ "$(x_mode)" = "$start_x_mode" ] || fail "restore after the fault: display at $(x_mode)"
}

start_x_mode=$(x_mode)
start_width=${start_x_mode%%x*}
start_height=${start_x_mode#*x}
start_height=${start_height%@*}
start_refresh=${start_x_mode#*@}
echo "mode in force at start: $start_x_mode"

begin "saved entry edited to a word"
fresh_store
set_value OldWidth REG_SZ wide
check_fault 'OldWidth.*"wide" is not a number'

begin "saved entry beyond single precision"
fresh_store
set_value OldHeight REG_SZ 1e39
check_fault 'OldHeight.*1e39.*single precision'

begin "saved entry deleted"
fresh_store
wine reg delete "$store" /v OldRefresh /f >/dev/null 2>&1 || fail "could not delete OldRefresh"
check_fault 'OldRefresh'

begin "saved entry stored as a number (REG_DWORD)"
fresh_store
set_value OldBPP REG_DWORD 32
check_fault 'OldBPP'

wine_finish
