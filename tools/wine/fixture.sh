#!/bin/sh
# Sets up and tears down what the tests run in: an Xvfb display and a private Wine prefix.
#   fixture.sh WINE_DIR setup [LINK_HANDLER] | fixture.sh WINE_DIR cleanup
# setup starts Xvfb (its display number goes to WINE_DIR/display), creates the prefix once and
# keeps one wineserver running; cleanup ends both, so that a test run leaves no process behind.
# LINK_HANDLER (a Windows program's Unix path) becomes the prefix's program for http and https
# addresses, in place of winebrowser, which would hand them to the host's browser.
set -eu
mkdir -p "$1"
# Absolute: Wine refuses a relative WINEPREFIX.
dir=$(cd "$1" && pwd)
action=$2
export WINEPREFIX="$dir/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_xvfb() {
  if [ -s "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$dir/xvfb.pid" "$dir/display"
}

case "$action" in
setup)
  # Without Wine's own faces the caption buttons come out as letters ("r" for close) and dialogs
  # in a substitute font: every screenshot and every measured text would be wrong.
  for font in marlett.ttf tahoma.ttf; do
    if [ ! -f "/usr/share/wine/fonts/$font" ]; then
      echo "Wine's fonts are missing (/usr/share/wine/fonts/$font): install Debian's fonts-wine (sh tools/setup.sh)" >&2
      exit 1
    fi
  done
  stop_xvfb
  # -displayfd picks a free display and writes its number once the server accepts clients.
  : >"$dir/display.tmp"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display.tmp" >/dev/null 2>&1 &
  echo $! >"$dir/xvfb.pid"
  tries=0
  until [ -s "$dir/display.tmp" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then
      echo "Xvfb did not start" >&2
      exit 1
    fi
    sleep 0.05
  done
  tr -d '\n' <"$dir/display.tmp" >"$dir/display"
  rm -f "$dir/display.tmp"
  DISPLAY=":$(cat "$dir/display")"
  export DISPLAY
  # A wineserver left running by an interrupted run would keep the wait below from ever ending.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    # Bare Xvfb has no window manager; unmanaged windows hide at once instead of after waiting
    # two seconds for one.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # The boot goes on in the background; its wine.inf sets Tahoma's links below, so wait for it.
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  # Debian's Wine 8 looks for its own faces under "<data dir>\../fonts", which it never finds;
  # the Windows font folder is always read, so they are linked there (prefixes made before too).
  for font in /usr/share/wine/fonts/*; do
    [ -e "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ] || ln -s "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  # Chinese, Japanese and Korean texts: Tahoma, which has none of their letters, links to
  # WenQuanYi (fonts-wqy-microhei) instead of the Windows faces Wine's default names. Captions
  # are drawn in Tahoma Bold.
  for face in Tahoma 'Tahoma Bold'; do
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  done
  # Wine's ShellExecuteW reads HKEY_CLASSES_ROOT from HKLM only, not from HKCU\Software\Classes.
  if [ -n "${3:-}" ]; then
    handler="Z:$(printf '%s' "$3" | tr / '\\')"
    for protocol in http https; do
      /usr/lib/wine/wine64 reg add "HKLM\\Software\\Classes\\$protocol\\shell\\open\\command" /ve \
        /d "\"$handler\" \"%1\"" /f >/dev/null 2>&1
    done
  fi
  wineserver -w </dev/null >/dev/null 2>&1
  wineserver -p </dev/null >/dev/null 2>&1
  echo "Wine prefix $WINEPREFIX ready on display $DISPLAY"
  ;;
cleanup)
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  stop_xvfb
  ;;
*)
  echo "usage: fixture.sh WINE_DIR setup [LINK_HANDLER] | fixture.sh WINE_DIR cleanup" >&2
  exit 2
  ;;
esac
