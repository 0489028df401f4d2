#!/bin/sh
# Sets the display scaling of a build's private Wine prefix for the processes started after it:
# LogPixels in both keys Wine reads, then a new wineserver (a running one keeps the old DPI). With a
# program, runs it there at that DPI (tools/wine/run.sh).
#   set_dpi.sh WINE_DIR DPI [PROGRAM [ARGUMENTS...]]     DPI: 96, 120, 144, 192, ...
set -eu
dir=$(cd "$1" && pwd)
dpi=$2
shift 2
export WINEPREFIX="$dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -s "$dir/display" ]; then
  DISPLAY=":$(cat "$dir/display")"
  export DISPLAY
fi
# Under load a Wine process now and then fails to start: each write is tried three times.
for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
  tries=0
  until /usr/lib/wine/wine64 reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 3 ]; then
      echo "set_dpi.sh: LogPixels could not be written under $key" >&2
      exit 1
    fi
  done
done
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
if [ $# -gt 0 ]; then
  exec "$(dirname "$0")/run.sh" "$dir" "$@"
fi
