#!/bin/sh
# make bench: builds the updater, the measuring tool and the baselines, serves a 256 MiB package
# from a private nginx on loopback, runs every figure several times (updater and baseline runs
# interleaved, so that a busy machine hits both alike), then writes bench/results.md and
# bench/download.png and prints the table.
#   run.sh [BUILD_DIR]     (default build/bench; BENCH_RUNS sets the runs per figure, default 5)
# Nothing it starts outlives it: nginx has a watcher, the Wine prefix and Xvfb are ended on exit.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
runs=${BENCH_RUNS:-5}
mkdir -p "$build"
build=$(cd "$build" && pwd)
work="$build/run"
wine_dir="$work/wine"
server="$work/nginx"
raw="$work/raw.txt"

step() { printf '== %s\n' "$*" >&2; }

step "Building (toolchain and flags of the updater)"
cmake -S "$root/bench" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target PlinthwareUpdater PlinthwareBench bench_dialog bench_windows bench_download \
  plinthware_packages >/dev/null
updater="$build/plinthware/src/PlinthwareUpdater.exe"
bench="$build/PlinthwareBench.exe"
dialog="$build/bench_dialog.exe"
windows="$build/bench_windows.exe"
download="$build/bench_download.exe"

# The plot needs matplotlib for Debian's Python; install it once if it is missing.
plot_python=/usr/bin/python3
if ! "$plot_python" -c 'import matplotlib' 2>/dev/null; then
  step "Installing python3-matplotlib for the plot"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends python3-matplotlib >/dev/null 2>&1 ||
    echo "python3-matplotlib could not be installed: no plot" >&2
fi

export WINEPREFIX="$wine_dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  sh "$root/tools/nginx/nginx.sh" stop "$server" >/dev/null 2>&1 || true
  sh "$root/tools/wine/fixture.sh" "$wine_dir" cleanup >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "Serving a 256 MiB package and a real installer from nginx"
docroot="$server/docroot"
mkdir -p "$docroot/plinthware" "$docroot/paced" "$docroot/small" "$server/server.d"
package="$docroot/plinthware/vrel_setup.exe"
if [ "$(stat -c %s "$package" 2>/dev/null || echo 0)" != 268435456 ]; then
  head -c 268435456 /dev/urandom >"$package"
fi
# The same package paced to 32 MB/s: on loopback at full speed Wine's URLMON reports no progress
# until the end, so only a paced transfer shows what the progress reports cost.
ln -f "$package" "$docroot/paced/vrel_setup.exe"
echo 'location /paced/ { limit_rate 32m; }' >"$server/server.d/paced.conf"
cp "$build/packages/vrel_setup_1.0.0.6.exe" "$docroot/small/vrel_setup.exe"
# info_file LOCATION: the Info file names LOCATION as the package for every platform.
info_file() {
  : >"$docroot/plinthware/vrel_info.ini"
  for section in platform_win8 platform_win7 platform_winvista platform_winxp; do
    printf '[%s]\r\nVersion=1.0.0.6\r\nLocation=%s\r\nInstConfig=vrel_setup.exe /S\r\n\r\n' "$section" "$1" \
      >>"$docroot/plinthware/vrel_info.ini"
  done
}
big_url=http://download.orvane.com/plinthware/vrel_setup.exe
small_url=http://download.orvane.com/small/vrel_setup.exe
paced_url=http://download.orvane.com/paced/vrel_setup.exe
sh "$root/tools/nginx/nginx.sh" start "$server" --watch-pid $$ >/dev/null
proxy=$(cat "$server/proxy")
# A port that nobody listens on, for the time to error.
dead_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

step "Preparing the Wine prefix"
sh "$root/tools/wine/fixture.sh" "$wine_dir" setup >/dev/null
DISPLAY=":$(cat "$wine_dir/display")"
export DISPLAY
wine=/usr/lib/wine/wine64

# fresh: every download starts as a first one does, with no package left in the temporary folder
# by the run before and no copy of it in WinINet's cache. Deleting a 256 MiB leftover at the start
# (the updater's own package, each program's cached copy) is done by Wine's one server process,
# which meanwhile answers no other request: every Wine program's messages wait for it, the pinged
# dialog's too. Removed here from outside, alike for the updater and the baselines.
leftover="$WINEPREFIX/drive_c/users/$(id -un)/Temp/vrel_setup.exe"
fresh() {
  rm -f "$leftover"
  find "$WINEPREFIX/drive_c/users" -path '*INetCache*' -type f -size +1M -delete 2>/dev/null || true
}

# measure FIGURE RUN COMMAND...: runs one measurement and files its lines under FIGURE and RUN.
# Its variables are the shell's own, so they must not be called run (the caller's loop counter).
measure() {
  measured_figure=$1
  measured_run=$2
  shift 2
  # Into a file, not a pipe: Wine's helper processes inherit the output and would hold a pipe open.
  if ! timeout 300 "$@" </dev/null >"$work/out.txt" 2>&1; then
    echo "$measured_figure run $measured_run failed:" >&2
    cat "$work/out.txt" >&2
    return 0
  fi
  tr -d '\r' <"$work/out.txt" | sed "s/^/$measured_figure $measured_run /" >>"$raw"
}

: >"$raw"
echo "machine $(nproc) cores, $(uname -r), $($wine --version 2>/dev/null)" >"$work/machine.txt"
# One warm-up of each program so that the first measured run does not pay for a cold cache.
step "Warming up"
http_proxy=$proxy measure warmup 0 $wine "$bench" startup "$updater"
measure warmup 0 $wine "$bench" startup "$dialog"
info_file "$big_url"
http_proxy=$proxy measure warmup 0 $wine "$download" "$big_url" "$work/baseline.bin"

for run in $(seq 1 "$runs"); do
  step "Run $run of $runs"
  # Other work on the machine shows in every figure: the load average as each run begins.
  echo "load $run avg1=$(cut -d' ' -f1 /proc/loadavg)" >>"$raw"
  # Start-up varies most from one start to the next: three of each per run, interleaved. The two
  # controls: the updater's windows alone, and the updater without the Task Scheduler (Wine's
  # taskschd disabled, so that the deletion at start fails at once).
  for start in 1 2 3; do
    http_proxy=$proxy measure startup_updater "$run.$start" $wine "$bench" startup "$updater"
    measure startup_baseline "$run.$start" $wine "$bench" startup "$dialog"
    measure startup_windows "$run.$start" $wine "$bench" startup "$windows" "$updater"
    (
      export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;taskschd=d"
      http_proxy=$proxy measure startup_no_task "$run.$start" $wine "$bench" startup "$updater"
    )
  done
  info_file "$big_url"
  fresh
  http_proxy=$proxy measure download_updater "$run" $wine "$bench" download "$updater"
  # Its CPU without the pings, which the bare download does not get either.
  fresh
  http_proxy=$proxy measure download_quiet "$run" $wine "$bench" download "$updater" quiet
  fresh
  http_proxy=$proxy measure download_baseline "$run" $wine "$download" "$big_url" "Z:$(echo "$work/baseline.bin" | tr / '\\')"
  rm -f "$work/baseline.bin"
  # A control for the reply times: an idle dialog program pinged while the bare download runs.
  fresh
  $wine "$bench" ping "$dialog" 9000 </dev/null >"$work/ping.txt" 2>&1 &
  pinger=$!
  sleep 1
  http_proxy=$proxy measure download_baseline_pinged "$run" $wine "$download" "$big_url" \
    "Z:$(echo "$work/baseline.bin" | tr / '\\')"
  wait $pinger || true
  tr -d '\r' <"$work/ping.txt" | sed "s/^/reply_control $run /" >>"$raw"
  rm -f "$work/baseline.bin"
  # The same bare download with a sink that also answers IHttpNegotiate, as the updater's does.
  fresh
  http_proxy=$proxy measure download_negotiate "$run" $wine "$download" "$big_url" \
    "Z:$(echo "$work/baseline.bin" | tr / '\\')" negotiate
  rm -f "$work/baseline.bin"
  # Paced to 32 MB/s, where the progress reports flow: the updater without pings and the bare
  # download with a sink that answers IHttpNegotiate as the updater's does.
  info_file "$paced_url"
  fresh
  http_proxy=$proxy measure paced_updater "$run" $wine "$bench" download "$updater" quiet
  fresh
  http_proxy=$proxy measure paced_baseline "$run" $wine "$download" "$paced_url" \
    "Z:$(echo "$work/baseline.bin" | tr / '\\')" negotiate
  rm -f "$work/baseline.bin"
  curl_s=$(curl -s -o "$work/curl.bin" -x "$proxy" -w '%{time_total}' "$big_url" || echo 0)
  echo "download_curl $run wall_ms=$(python3 -c "print(round($curl_s * 1000, 1))")" >>"$raw"
  rm -f "$work/curl.bin"
  http_proxy=http://127.0.0.1:$dead_port measure error_updater "$run" $wine "$bench" error "$updater"
  info_file "$small_url"
  fresh
  http_proxy=$proxy measure firstrun_updater "$run" $wine "$bench" firstrun "$updater"
done

step "Writing the results"
echo "load end avg1=$(cut -d' ' -f1 /proc/loadavg)" >>"$raw"
# What the executable is made of, from the link map the build writes beside it.
python3 "$root/bench/link_map.py" "$build/plinthware/src/PlinthwareUpdater.map" 10 >"$work/link_map.txt"
size=$(stat -c %s "$updater")
echo "exe_size 0 bytes=$size" >>"$raw"
echo "exe_size_baseline 0 bytes=$(stat -c %s "$dialog")" >>"$raw"
"$plot_python" "$root/bench/summarize.py" "$raw" "$work/machine.txt" "$runs" "$root/bench/results.md" \
  "$root/bench/download.png" "$work/link_map.txt"
