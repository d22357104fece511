#!/bin/bash
# End-to-end tests of the Windows program under Wine, whose user32 implements
# the display settings on top of the X server's RandR.
#
#   tests/xserver/with-xserver tests/windows/wine-end-to-end.sh VISTREL_EXE MODE_HELPER_EXE
#
# Needs DISPLAY (a private X server: with-xserver starts one), wine, xrandr
# and xdotool. Makes a Wine prefix in a temporary folder, keeps its wine
# server running for all cases and ends it, with every Wine process of the
# prefix, on the way out (wine-lib.sh, beside this script). Prints one line
# per case; exits 1 if any failed.
set -u

if [ $# -ne 2 ] || [ -z "${DISPLAY:-}" ]; then
  echo "usage: DISPLAY=:N wine-end-to-end.sh VISTREL_EXE MODE_HELPER_EXE" >&2
  exit 2
fi
vistrel_exe=$1
helper_exe=$2
# shellcheck source=tests/windows/wine-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"
wine_start vistrel-wine "$vistrel_exe"

# The program and the helper sit in C:\vistrel. A second copy of the program
# sits in a folder whose name has a blank and a command word in it: only a
# program name read as Windows reads it keeps that word out of the arguments.
odd_folder="$WINEPREFIX/drive_c/Vistrel -restore"
mkdir -p "$odd_folder"
cp "$vistrel_exe" "$odd_folder/vistrel.exe"
cp "$helper_exe" "$folder/mode_helper.exe"

# Runs the program with ARGS, waits for a window titled exactly TITLE, checks
# that it is there, dismisses it with the Return key; sets `status`.
run_with_window() {
  local title=$1
  shift
  wine_program "$@" &
  local pid=$! window= seen=
  # The window may be listed before it can take the focus: press Return
  # until the program has ended.
  for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
    if [ -n "$window" ]; then
      seen=yes
      xdotool windowfocus --sync "$window" key Return 2>/dev/null
    fi
    sleep 0.2
  done
  [ -n "$seen" ] || fail "no window titled '$title' appeared"
  wait "$pid"
  status=$?
}

# The mode in force as Wine reports it: WIDTHxHEIGHTxBPP@HZ.
wine_mode() {
  (cd "$folder" && wine mode_helper.exe current | tr -d '\r')
}

# The saved-mode entries as "OldWidth OldHeight OldBPP OldRefresh", from
# `wine reg query`; absent ones as "-".
saved_mode() {
  local listing key value line=
  listing=$(wine reg query "$store" 2>/dev/null | tr -d '\r')
  for key in OldWidth OldHeight OldBPP OldRefresh; do
    value=$(printf '%s\n' "$listing" | awk -v key="$key" '$1 == key && $2 == "REG_SZ" { print $3 }')
    line="$line ${value:--}"
  done
  echo "${line# }"
}

# "W H BPP HZ" of a WIDTHxHEIGHTxBPP@HZ mode, as the saved entries hold it.
as_entries() {
  echo "$1" | sed 's/^\([0-9]*\)x\([0-9]*\)x\([0-9]*\)@\([0-9]*\)$/\1 \2 \3 \4/'
}

start_mode=$(wine_mode)
start_x_mode=$(x_mode)
echo "mode in force at start: $start_mode (xrandr: $start_x_mode)"

begin "usage warning: no argument"
run_with_window "ERROR: Vistrel "
expect_status 2

begin "no command: silent end"
run -list
expect_status 2

begin "error report: -restore with nothing saved"
forget_saved_mode
run_with_window "Vistrel" -restore
expect_status 1
[ "$(x_mode)" = "$start_x_mode" ] || fail "display changed to $(x_mode)"

begin "error report: numeric command with four values"
run_with_window "Vistrel" -768 -1024 -32 -60
expect_status 1
[ "$(saved_mode)" = "- - - -" ] || fail "entries saved: $(saved_mode)"

begin "-output lists what EnumDisplaySettingsA reports"
(cd "$folder" && wine mode_helper.exe list expected.txt)
run -output
expect_status 0
if [ ! -s "$folder/expected.txt" ]; then
  fail "the helper listed no mode"
elif ! cmp "$folder/expected.txt" "$folder/output.txt"; then
  fail "output.txt differs from the helper's listing"
fi
lines=$(wc -l <"$folder/expected.txt")
[ "$(grep -c $'\r$' "$folder/expected.txt")" -eq "$lines" ] || fail "lines without CR LF"
echo "$lines modes listed"

begin "-output from a folder named 'Vistrel -restore'"
(cd "$odd_folder" && timeout 60 wine 'C:\Vistrel -restore\vistrel.exe' -output </dev/null >>"$work/wine.log" 2>&1)
status=$?
expect_status 0
cmp "$folder/expected.txt" "$odd_folder/output.txt" || fail "no matching output.txt beside the program"
[ "$(saved_mode)" = "- - - -" ] || fail "a restore ran: $(saved_mode)"

begin "numeric command changes the X server's mode and saves the old one"
run -768 -1024 -32 -60 -1
expect_status 0
[ "$(x_mode)" = "1024x768@60" ] || fail "xrandr reports $(x_mode), expected 1024x768@60"
start_entries=$(as_entries "$start_mode")
[ "$(saved_mode)" = "$start_entries" ] || fail "entries $(saved_mode), expected $start_entries"

begin "two restores alternate"
run -restore
expect_status 0
[ "$(x_mode)" = "$start_x_mode" ] || fail "after the first restore xrandr reports $(x_mode), expected $start_x_mode"
[ "$(saved_mode)" = "1024 768 32 60" ] || fail "entries $(saved_mode) after the first restore"
run -RESTORE
expect_status 0
[ "$(x_mode)" = "1024x768@60" ] || fail "after the second restore xrandr reports $(x_mode)"
[ "$(saved_mode)" = "$start_entries" ] || fail "entries $(saved_mode) after the second restore"

begin "a mode Wine refuses: exit 3, entries as they were"
before_entries=$(saved_mode)
before_x_mode=$(x_mode)
run -123 -456 -32 -60 -1
expect_status 3
[ "$(saved_mode)" = "$before_entries" ] || fail "entries $(saved_mode), expected $before_entries"
[ "$(x_mode)" = "$before_x_mode" ] || fail "display changed to $(x_mode)"

begin "a store that cannot be written: change abandoned"
forget_saved_mode
# No lasting key can be made below a volatile one, so the save fails.
(cd "$folder" && wine mode_helper.exe volatile 'Software\Quendrel') || fail "could not make the volatile key"
run -600 -800 -32 -60 -1
expect_status 3
[ "$(x_mode)" = "$before_x_mode" ] || fail "display changed to $(x_mode)"
[ "$(saved_mode)" = "- - - -" ] || fail "entries saved: $(saved_mode)"
forget_saved_mode

wine_finish
