# shellcheck shell=bash
# wine-lib.sh: what the Wine tests of the Windows program share
# (tests/windows/wine-end-to-end.sh, tests/windows-faults/wine-store-faults.sh).
# Sourced, never run on its own.
#
#   wine_start NAME VISTREL_EXE  makes a Wine prefix in a temporary folder
#       `work` ($TMPDIR/NAME.XXXXXX), starts one wine server for the whole run
#       and copies the program into `folder` (C:\vistrel, as `program`). When
#       the script ends, the wine server ends, with every Wine process of the
#       prefix, and `work` is removed.
#   begin NAME                   starts a case; prints its name.
#   fail MESSAGE                 counts a failed check of the case; prints it.
#   wine_program ARG...          runs the program from its folder, with its
#                                exit status; Wine's output goes to
#                                $work/wine.log. Cases that answer a window
#                                run it in the background.
#   run ARG...                   the same (no window expected); sets `status`.
#   expect_status N              checks `status`.
#   x_mode                       the X server's mode in force, WIDTHxHEIGHT@HZ.
#   forget_saved_mode            deletes the program's store key and all below.
#   wine_finish                  prints the summary and ends the script: exit 1
#                                (with Wine's output) when any check failed.

# The saved mode's entries, for `wine reg`.
store='HKCU\Software\Quendrel\Restore'
program='C:\vistrel\vistrel.exe'
failures=0
case_name=

wine_start() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || exit 1
  export WINEPREFIX=$work/prefix
  export WINEDEBUG=-all
  # No .NET or Gecko installers, no desktop menu entries.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$work"' EXIT

  if ! wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wineboot -i failed:" >&2
    cat "$work/wineboot.log" >&2
    exit 1
  fi
  # One wine server for the whole run, until wineserver -k above.
  wineserver -p </dev/null >/dev/null 2>&1

  folder=$WINEPREFIX/drive_c/vistrel
  mkdir -p "$folder"
  cp "$2" "$folder/vistrel.exe"
}

fail() {
  echo "FAIL $case_name: $*"
  failures=$((failures + 1))
}

begin() {
  case_name=$1
  echo "---- $case_name"
}

wine_program() {
  (cd "$folder" && timeout 60 wine "$program" "$@" </dev/null >>"$work/wine.log" 2>&1)
}

run() {
  wine_program "$@"
  status=$?
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# The rate is rounded: xrandr shows it with decimals.
x_mode() {
  xrandr --current | awk '/\*/ {
    for (i = 2; i <= NF; i++) if ($i ~ /\*/) { rate = $i; gsub(/[*+]/, "", rate) }
    printf "%s@%.0f\n", $1, rate; exit }'
}

forget_saved_mode() {
  wine reg delete 'HKCU\Software\Quendrel' /f >/dev/null 2>&1
}

wine_finish() {
  echo "----"
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; Wine's output:"
    cat "$work/wine.log"
    exit 1
  fi
  echo "all cases passed"
}
