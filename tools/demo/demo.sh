#!/bin/sh
# make demo: the updater's first run against a private nginx that serves the Info file and a real
# NSIS installer for the compiled-in address (reached through http_proxy).
#   demo.sh BUILD_DIR
# With a display (DISPLAY set, a terminal, not CI) the updater opens there and you click through
# it. Without one it runs in Xvfb, walks the first run itself, prints each step, and saves a
# screenshot of every screen in BUILD_DIR/demo/. Nothing it starts outlives it.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
demo="$build/demo"
wine_dir="$demo/wine"
server="$demo/nginx"
shots="$demo"
export WINEPREFIX="$wine_dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

interactive=0
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && [ -t 0 ]; then interactive=1; fi

cleanup() {
  sh "$root/tools/nginx/nginx.sh" stop "$server" >/dev/null 2>&1 || true
  if [ $interactive -eq 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
  else
    sh "$root/tools/wine/fixture.sh" "$wine_dir" cleanup >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n== %s\n' "$*"; }

step "Serving the Info file and the installer package"
mkdir -p "$server/docroot/plinthware" "$server/server.d"
cp "$build/packages/vrel_setup_1.0.0.6.exe" "$server/docroot/plinthware/vrel_setup.exe"
# The package is sent slowly enough to see its progress; its page stays up for a moment.
cat >"$server/server.d/demo.conf" <<'CONF'
location = /plinthware/vrel_setup.exe {
  limit_rate 32k;
}
CONF
info="$server/docroot/plinthware/vrel_info.ini"
: >"$info"
for section in platform_win8 platform_win7 platform_winvista platform_winxp; do
  printf '[%s]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/vrel_setup.exe\r\nInstConfig=vrel_setup.exe\r\n\r\n' \
    "$section" >>"$info"
done
sh "$root/tools/nginx/nginx.sh" start "$server" --watch-pid $$
proxy=$(cat "$server/proxy")
sed 's/^/  /' "$info" | tr -d '\r'

step "Preparing the Wine prefix in $wine_dir"
if [ $interactive -eq 1 ]; then
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
else
  sh "$root/tools/wine/fixture.sh" "$wine_dir" setup
  DISPLAY=":$(cat "$wine_dir/display")"
  export DISPLAY
fi
# A first run: nothing installed yet.
/usr/lib/wine/wine64 reg delete 'HKLM\SOFTWARE\Orvane' /f >/dev/null 2>&1 || true
export http_proxy="$proxy"

exe="$build/src/PlinthwareUpdater.exe"
if [ $interactive -eq 1 ]; then
  step "Starting the updater on your display: click Download Now, then Restart Later"
  /usr/lib/wine/wine64 "$exe" </dev/null
  /usr/lib/wine/wine64 reg query 'HKLM\SOFTWARE\Orvane\autolaunch' 2>/dev/null | tr -d '\r' || true
  exit 0
fi

step "Walking the first run in Xvfb (display $DISPLAY)"
rm -f "$shots"/*.bmp "$shots"/*.png
installed="Plinthware installed successfully. Before you can use Plinthware, you must restart your computer."
/usr/lib/wine/wine64 "$build/tools/driver/PlinthwareDriver.exe" --exe "$exe" --timeout 60000 \
  dialog "shot:$shots/1-offer.bmp" \
  click:1 "text:1002=Downloading Plinthware:" wait:1500 "shot:$shots/2-downloading.bmp" \
  "text:1002=Installing Plinthware:" "shot:$shots/3-installing.bmp" \
  "text:1002=$installed" "shot:$shots/4-restart-offered.bmp" \
  click:1009 wait-exit output registry </dev/null

step "Screenshots"
for bmp in "$shots"/*.bmp; do
  [ -f "$bmp" ] || continue
  if command -v convert >/dev/null 2>&1 && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then
    rm -f "$bmp"
    echo "  ${bmp%.bmp}.png"
  else
    echo "  $bmp"
  fi
done
echo "The screenshots are in $shots"
