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
work="$build/demo"
stage_own_display=1
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && [ -t 0 ]; then stage_own_display=0; fi
. "$root/tools/demo/stage.sh"
trap stage_cleanup EXIT
trap 'exit 130' INT TERM

step "Serving the Info file and the installer package"
# The package is sent slowly enough to see its progress; without /S its page stays up a moment.
stage_server 32k
serve_info vrel_setup.exe vrel_setup.exe
sed 's/^/  /' "$info" | tr -d '\r'

step "Preparing the Wine prefix in $wine_dir"
stage_prefix
installed_version # a first run: nothing installed yet

exe="$build/src/PlinthwareUpdater.exe"
if [ $stage_own_display -eq 0 ]; then
  step "Starting the updater on your display: click Download Now, then Restart Later"
  $wine "$exe" </dev/null
  $wine reg query 'HKLM\SOFTWARE\Orvane\autolaunch' 2>/dev/null | tr -d '\r' || true
  exit 0
fi

step "Walking the first run in Xvfb (display $DISPLAY)"
rm -f "$work"/*.bmp "$work"/*.png
installed="Plinthware installed successfully. Before you can use Plinthware, you must restart your computer."
drive dialog "shot:$work/1-offer.bmp" \
  click:1 "text:1002=Downloading Plinthware:" wait:1500 "shot:$work/2-downloading.bmp" \
  "text:1002=Installing Plinthware:" "shot:$work/3-installing.bmp" \
  "text:1002=$installed" "shot:$work/4-restart-offered.bmp" \
  click:1009 wait-exit output registry

step "Screenshots"
for bmp in "$work"/*.bmp; do
  [ -f "$bmp" ] || continue
  if command -v convert >/dev/null 2>&1 && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then
    rm -f "$bmp"
    echo "  ${bmp%.bmp}.png"
  else
    echo "  $bmp"
  fi
done
echo "The screenshots are in $work"
