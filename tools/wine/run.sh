#!/bin/sh
# Runs a Windows program under Wine in a build's private prefix, with the test display and, when
# a test web server runs, its address as the HTTP proxy.
#   run.sh WINE_DIR PROGRAM [ARGUMENTS...]
dir=$1
shift
export WINEPREFIX="$dir/prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -s "$dir/display" ]; then
  DISPLAY=":$(cat "$dir/display")"
  export DISPLAY
fi
if [ -z "${http_proxy+set}" ] && [ -s "$dir/proxy" ]; then
  http_proxy="$(cat "$dir/proxy")"
  export http_proxy
fi
# Wine starts its own helper processes (services, explorer) on demand, and they inherit our
# output; they would keep CTest's pipe open long after the test ends. So the program writes to a
# file, which is shown once it has exited.
log=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$log"' EXIT
trap 'kill $pid 2>/dev/null; exit 143' INT TERM
/usr/lib/wine/wine64 "$@" >"$log" 2>&1 </dev/null &
pid=$!
wait $pid
status=$?
cat "$log"
exit $status
