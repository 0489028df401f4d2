#!/bin/sh
# make screenshots: regenerates docs/screens/*.png, every screen of the updater and its message
# boxes, frame included, as Wine draws them in Xvfb. A private nginx serves the Info file and real
# NSIS packages for the compiled-in address (reached through http_proxy); the driver walks each
# run and saves the front window as BMP (shot:PATH), which ImageMagick's convert turns into PNG.
#   screenshots.sh BUILD_DIR
# Nothing it starts outlives it.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work="$build/screenshots"
wine_dir="$work/wine"
server="$work/nginx"
shots="$root/docs/screens"
export WINEPREFIX="$wine_dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64

command -v convert >/dev/null 2>&1 || { echo "ImageMagick's convert is missing (Debian: imagemagick)" >&2; exit 1; }

cleanup() {
  sh "$root/tools/nginx/nginx.sh" stop "$server" >/dev/null 2>&1 || true
  sh "$root/tools/wine/fixture.sh" "$wine_dir" cleanup >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n== %s\n' "$*"; }

# serve_info PACKAGE INSTCONFIG: the Info file offers 1.0.0.6 at PACKAGE for every platform.
serve_info() {
  info="$server/docroot/plinthware/vrel_info.ini"
  : >"$info"
  for section in platform_win8 platform_win7 platform_winvista platform_winxp; do
    printf '[%s]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/%s\r\nInstConfig=%s\r\n\r\n' \
      "$section" "$1" "$2" >>"$info"
  done
}

installed_version() {
  $wine reg delete 'HKLM\SOFTWARE\Orvane' /f >/dev/null 2>&1 || true
  if [ -n "$1" ]; then
    $wine reg add 'HKLM\SOFTWARE\Orvane\autolaunch' /v installed_version /t REG_SZ /d "$1" /f >/dev/null 2>&1
  fi
}

drive() {
  $wine "$build/tools/driver/PlinthwareDriver.exe" --exe "$build/src/PlinthwareUpdater.exe" --timeout 60000 "$@" </dev/null
}

step "Serving the Info file and the installer packages"
mkdir -p "$server/docroot/plinthware" "$server/server.d"
cp "$build/packages/vrel_setup_1.0.0.6.exe" "$server/docroot/plinthware/vrel_setup.exe"
cp "$build/packages/vrel_setup_fail.exe" "$server/docroot/plinthware/vrel_setup_fail.exe"
# Slow enough that the progress bar is caught part way.
cat >"$server/server.d/screenshots.conf" <<'CONF'
location = /plinthware/vrel_setup.exe {
  limit_rate 32k;
}
CONF
sh "$root/tools/nginx/nginx.sh" start "$server" --watch-pid $$
export http_proxy="$(cat "$server/proxy")"

step "Preparing the Wine prefix in $wine_dir"
sh "$root/tools/wine/fixture.sh" "$wine_dir" setup
DISPLAY=":$(cat "$wine_dir/display")"
export DISPLAY

rm -f "$work"/*.bmp
mkdir -p "$work" "$shots"
installed="Plinthware installed successfully. Before you can use Plinthware, you must restart your computer."

step "First run: Offer, Downloading, Installing, Restart offered"
# Without /S the package keeps its page up for a moment, long enough to see Installing.
serve_info vrel_setup.exe vrel_setup.exe
installed_version ""
drive dialog "shot:$work/offer.bmp" \
  click:1 "text:1002=Downloading Plinthware:" wait:1500 "shot:$work/downloading.bmp" \
  "text:1002=Installing Plinthware:" "shot:$work/installing.bmp" \
  "text:1002=$installed" "shot:$work/restart-offered.bmp" \
  click:1009 wait-exit

step "Update mode with nothing newer: the latest-version box"
drive --args -update see-box "shot:$work/latest-version.bmp" box wait-exit

step "Update mode with a newer version: the update offer, then a failing installer"
serve_info vrel_setup_fail.exe "vrel_setup.exe /S"
installed_version 1.0.0.5
drive --args -update dialog "shot:$work/update-offered.bmp" \
  click:1006 see-box "shot:$work/install-failed.bmp" box wait-exit

step "No server answering: the network-error box"
drive --env http_proxy=http://127.0.0.1:9 --args -update see-box "shot:$work/network-error.bmp" box wait-exit
installed_version ""

step "Converting to PNG in $shots"
for bmp in "$work"/*.bmp; do
  png="$shots/$(basename "${bmp%.bmp}").png"
  # -strip keeps the files identical from run to run (no dates in them).
  convert "$bmp" -strip "$png"
  echo "  $png"
done
