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
shots="$root/docs/screens"
. "$root/tools/demo/stage.sh"

command -v convert >/dev/null 2>&1 || { echo "ImageMagick's convert is missing (Debian: imagemagick)" >&2; exit 1; }
trap stage_cleanup EXIT
trap 'exit 130' INT TERM

step "Serving the Info file and the installer packages"
# Slow enough that the progress bar is caught part way.
stage_server 32k

step "Preparing the Wine prefix in $wine_dir"
stage_prefix

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

step "The Offer at 144 DPI (150 % display scaling), then back to 96"
sh "$root/tools/wine/set_dpi.sh" "$wine_dir" 144
drive dialog "shot:$work/offer-144dpi.bmp" click:2 wait-exit
sh "$root/tools/wine/set_dpi.sh" "$wine_dir" 96

step "Converting to PNG in $shots"
for bmp in "$work"/*.bmp; do
  png="$shots/$(basename "${bmp%.bmp}").png"
  # -strip keeps the files identical from run to run (no dates in them).
  convert "$bmp" -strip "$png"
  echo "  $png"
done
