# Sourced by the demo and the screenshots: a private nginx that serves the Info file and the NSIS
# packages for the compiled-in address, and a Wine prefix of its own. Expects `root`, `build` and
# `work` (a folder under the build tree); sets `server`, `wine_dir`, `wine` and exports
# WINEPREFIX and friends. stage_cleanup stops everything it started.
server="$work/nginx"
wine_dir="$work/wine"
wine=/usr/lib/wine/wine64
export WINEPREFIX="$wine_dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

step() { printf '\n== %s\n' "$*"; }

stage_cleanup() {
  sh "$root/tools/nginx/nginx.sh" stop "$server" >/dev/null 2>&1 || true
  if [ "${stage_own_display:-1}" -eq 1 ]; then
    sh "$root/tools/wine/fixture.sh" "$wine_dir" cleanup >/dev/null 2>&1 || true
  else
    wineserver -k >/dev/null 2>&1 || true
  fi
}

# stage_server RATE: nginx with the packages, the installer package sent at RATE (e.g. 32k).
stage_server() {
  mkdir -p "$server/docroot/plinthware" "$server/server.d"
  cp "$build/packages/vrel_setup_1.0.0.6.exe" "$server/docroot/plinthware/vrel_setup.exe"
  cp "$build/packages/vrel_setup_fail.exe" "$server/docroot/plinthware/vrel_setup_fail.exe"
  rm -f "$server/server.d"/*.conf
  printf 'location = /plinthware/vrel_setup.exe {\n  limit_rate %s;\n}\n' "$1" >"$server/server.d/stage.conf"
  sh "$root/tools/nginx/nginx.sh" start "$server" --watch-pid $$
  http_proxy="$(cat "$server/proxy")"
  export http_proxy
}

# serve_info PACKAGE INSTCONFIG: the Info file offers 1.0.0.6 at PACKAGE for every platform.
serve_info() {
  info="$server/docroot/plinthware/vrel_info.ini"
  : >"$info"
  for section in platform_win8 platform_win7 platform_winvista platform_winxp; do
    printf '[%s]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/%s\r\nInstConfig=%s\r\n\r\n' \
      "$section" "$1" "$2" >>"$info"
  done
}

# installed_version [VERSION]: what the registry says is installed (nothing without VERSION).
installed_version() {
  $wine reg delete 'HKLM\SOFTWARE\Orvane' /f >/dev/null 2>&1 || true
  if [ -n "${1:-}" ]; then
    $wine reg add 'HKLM\SOFTWARE\Orvane\autolaunch' /v installed_version /t REG_SZ /d "$1" /f >/dev/null 2>&1
  fi
}

# stage_prefix: the prefix, in Xvfb unless stage_own_display=0 (then the caller's display).
stage_prefix() {
  if [ "${stage_own_display:-1}" -eq 1 ]; then
    sh "$root/tools/wine/fixture.sh" "$wine_dir" setup
    DISPLAY=":$(cat "$wine_dir/display")"
    export DISPLAY
  else
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  fi
}

drive() {
  $wine "$build/tools/driver/PlinthwareDriver.exe" --exe "$build/src/PlinthwareUpdater.exe" --timeout 60000 "$@" </dev/null
}
