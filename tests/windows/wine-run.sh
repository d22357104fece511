#!/bin/sh
# Runs a cross-built Windows test program under Wine; CTest's emulator for
# the Windows build. Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
#
# PREFIX is a Wine prefix of the build folder, made on first use and shared by
# the test programs of the build; the wine server of the prefix is waited for
# after each program, so that no Wine process outlives the test. The display
# is taken away: the test programs open no window, and must not open one on
# the desktop of whoever runs the tests.
set -u
prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || { echo "wine-run.sh: wineboot -i failed for $prefix" >&2; exit 1; }
    wineserver -w
  fi
) 9>"$prefix.lock" || exit 1

wine "$@"
status=$?
wineserver -w
exit $status
