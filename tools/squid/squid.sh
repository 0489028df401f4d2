#!/bin/sh
# Starts and stops a private squid in front of a local web server: the proxy of the end-to-end
# tests, on two free ports of 127.0.0.1, one open and one that asks for Basic authentication. It
# is not the system service: its configuration, pid file, password file and logs live in DIR.
#   squid.sh start DIR --parent-port-file FILE --basic USER:PASSWORD [--watch-pid PID | --watch-parent]
#   squid.sh stop  DIR
#   squid.sh watch DIR --watch-pid PID   (the watcher itself; start runs it)
# The environment variable PLINTHWARE_SQUID may name the squid program.
# start stops whatever an earlier, interrupted run left in DIR, then sends every plain request to
# the server on 127.0.0.1 whose port FILE holds (nginx.sh's DIR/port) and lets CONNECT (https)
# through to localhost only. It writes DIR/proxy (http://127.0.0.1:PORT, open) and
# DIR/proxy_basic (http://127.0.0.1:PORT, Basic authentication as USER with PASSWORD), and prints
# both. Every request is a line of DIR/run/access.log. Nothing is cached. With --watch-pid, a
# watcher stops squid once process PID has ended (--watch-parent: the process that started this
# script, such as CTest), so that an interrupted run leaves nothing behind.
# stop works in any state: no squid, a stale pid file, or a squid whose owner is gone.
set -eu

usage() {
  echo "usage: squid.sh start DIR --parent-port-file FILE --basic USER:PASSWORD [--watch-pid PID | --watch-parent]" >&2
  echo "       squid.sh stop DIR" >&2
  exit 2
}

[ $# -ge 2 ] || usage
case "$1" in start | stop | watch) ;; *) usage ;; esac
action=$1
dir=$2
shift 2
parent_port_file=""
basic=""
watch_pid=""
while [ $# -gt 0 ]; do
  case "$1" in
  --parent-port-file) [ $# -ge 2 ] || usage; parent_port_file=$2; shift 2 ;;
  --basic)
    [ $# -ge 2 ] || usage
    case "$2" in [A-Za-z0-9_]*:?*) ;; *) usage ;; esac
    basic=$2
    shift 2
    ;;
  --watch-pid) [ $# -ge 2 ] || usage; watch_pid=$2; shift 2 ;;
  --watch-parent) watch_pid=$PPID; shift ;;
  *) usage ;;
  esac
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
squid_program=${PLINTHWARE_SQUID:-$(command -v squid || echo /usr/sbin/squid)}
helpers=${PLINTHWARE_SQUID_HELPERS:-/usr/lib/squid}
# squid started as root works as this user, which must reach DIR/run (squid refuses to work as root).
squid_user=proxy

# A process that has exited but is not yet reaped (state Z) counts as gone.
alive() {
  kill -0 "$1" 2>/dev/null || return 1
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null || true)
  [ "$state" != "Z" ]
}

# Every process of this DIR, also after squid itself was killed: squid (its command line names
# DIR/squid.conf) and its Basic helpers (theirs name the password file in the run folder).
our_processes() {
  run=$(readlink -f "$dir/run" 2>/dev/null || echo "$dir/run")
  for proc in /proc/[0-9]*; do
    comm=""
    { read -r comm <"$proc/comm"; } 2>/dev/null || true
    case "$comm" in squid | basic_ncsa_auth) ;; *) continue ;; esac
    command=""
    { command=$(tr '\0' ' ' <"$proc/cmdline"); } 2>/dev/null || true
    case "$command" in *"$dir/squid.conf"* | *"$run/passwd"*) echo "${proc#/proc/}" ;; esac
  done
}

stop_server() {
  if [ -s "$dir/squid.pid" ]; then
    pid=$(tr -dc '0-9' <"$dir/squid.pid")
    # Only our squid: a recycled pid must not be signalled.
    if [ -n "$pid" ] && { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF "$dir/squid.conf"; then
      # shutdown_lifetime is 0: squid ends at once, its helpers with it.
      kill -TERM "$pid" 2>/dev/null || true
      tries=0
      while alive "$pid" && [ $tries -lt 100 ]; do
        tries=$((tries + 1))
        sleep 0.05
      done
    fi
  fi
  left=$(our_processes)
  if [ -n "$left" ]; then
    # shellcheck disable=SC2086 # one word per pid
    kill -KILL $left 2>/dev/null || true
  fi
  if [ -s "$dir/watcher.pid" ]; then
    watcher=$(tr -dc '0-9' <"$dir/watcher.pid")
    command=$( { tr '\0' '\n' <"/proc/$watcher/cmdline"; } 2>/dev/null || true)
    if [ -n "$watcher" ] && [ "$watcher" != "$$" ] && [ "$(echo "$command" | sed -n 3p)" = "watch" ] &&
      [ "$(echo "$command" | sed -n 4p)" = "$dir" ]; then
      kill -TERM "$watcher" 2>/dev/null || true
    fi
  fi
  rm -f "$dir/squid.pid" "$dir/watcher.pid" "$dir/proxy" "$dir/proxy_basic"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null ||
    echo $((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
}

# DIR/run holds what squid and its helpers touch after squid has left root: the logs, its pid file
# and the password file. When that user cannot reach DIR (a build folder under /root), DIR/run is
# a link to a folder of its own under /tmp, which the next start replaces.
make_run_folder() {
  old_target=$(readlink "$dir/run" 2>/dev/null || true)
  case "$old_target" in /tmp/plinthware-squid.*) rm -rf "$old_target" ;; esac
  rm -rf "$dir/run"
  mkdir -p "$dir/run"
  [ "$(id -u)" -eq 0 ] || return 0
  chown "$squid_user" "$dir/run"
  if setpriv --reuid="$squid_user" --regid="$squid_user" --clear-groups test -w "$dir/run" 2>/dev/null; then
    return 0
  fi
  rmdir "$dir/run"
  target=$(mktemp -d /tmp/plinthware-squid.XXXXXX)
  chmod 755 "$target"
  chown "$squid_user" "$target"
  ln -s "$target" "$dir/run"
}

write_config() {
  open_port=$1
  basic_port=$2
  # The folder itself: a path through DIR would not be reachable where the link is needed.
  run=$(cd "$dir/run" && pwd -P)
  user_line=""
  if [ "$(id -u)" -eq 0 ]; then
    user_line="cache_effective_user $squid_user"
  fi
  cat >"$dir/squid.conf" <<EOF
# Written by tools/squid/squid.sh; rewritten at every start.
http_port 127.0.0.1:$open_port name=open
http_port 127.0.0.1:$basic_port name=basic
$user_line
visible_hostname plinthware-test-proxy
pid_filename $run/squid.pid
cache_log $run/cache.log
logformat plinthware %>a "%rm %ru HTTP/%rv" port=%>lp user=%un status=%>Hs %Ss/%Sh
access_log stdio:$run/access.log logformat=plinthware
cache_store_log none
coredump_dir $run
# Every request goes through to the server: a test changes its files between requests.
cache deny all
cache_mem 8 MB
digest_generation off
pinger_enable off
shutdown_lifetime 0 seconds

auth_param basic program $helpers/basic_ncsa_auth $run/passwd
auth_param basic children 2 startup=0 idle=1
auth_param basic realm Plinthware test proxy
acl open_port myportname open
acl basic_port myportname basic
acl signed_in proxy_auth REQUIRED
acl CONNECT method CONNECT
acl local_name dstdomain localhost
http_access deny CONNECT !local_name
http_access allow open_port
http_access allow basic_port signed_in
http_access deny all

# Plain requests go to the web server, whatever their host; CONNECT goes straight to localhost.
cache_peer 127.0.0.1 parent $PARENT_PORT 0 no-query no-digest default name=server
never_direct allow !CONNECT
always_direct allow CONNECT
EOF
}

start_server() {
  [ -n "$parent_port_file" ] && [ -n "$basic" ] || usage
  stop_server
  PARENT_PORT=$(tr -dc '0-9' <"$parent_port_file" 2>/dev/null || true)
  if [ -z "$PARENT_PORT" ]; then
    echo "no server port in $parent_port_file" >&2
    exit 1
  fi
  make_run_folder
  user=${basic%%:*}
  password=${basic#*:}
  printf '%s:%s\n' "$user" "$(openssl passwd -apr1 "$password")" >"$dir/run/passwd"
  attempt=0
  while :; do
    attempt=$((attempt + 1))
    open_port=$(free_port)
    basic_port=$(free_port)
    [ "$open_port" != "$basic_port" ] || continue
    write_config "$open_port" "$basic_port"
    : >"$dir/run/cache.log"
    : >"$dir/run/access.log"
    if [ "$(id -u)" -eq 0 ]; then chown "$squid_user" "$dir/run/cache.log" "$dir/run/access.log"; fi
    # In the foreground of a session of its own (-N), started in the background: its pid is ours.
    setsid "$squid_program" -N -f "$dir/squid.conf" </dev/null >"$dir/squid.out" 2>&1 &
    echo $! >"$dir/squid.pid"
    # Listening once both ports are accepted; a squid that ended failed.
    tries=0
    while alive "$(cat "$dir/squid.pid")" &&
      [ "$(grep -c 'Accepting HTTP Socket connections' "$dir/run/cache.log" 2>/dev/null || true)" -lt 2 ]; do
      tries=$((tries + 1))
      if [ $tries -gt 400 ]; then break; fi
      sleep 0.05
    done
    if alive "$(cat "$dir/squid.pid")" &&
      [ "$(grep -c 'Accepting HTTP Socket connections' "$dir/run/cache.log")" -ge 2 ]; then
      break
    fi
    stop_server
    # Another program may have taken a port between the probe and squid's bind.
    if [ $attempt -ge 5 ] || ! grep -q "Address already in use" "$dir/run/cache.log" "$dir/squid.out"; then
      echo "squid did not start; $dir/run/cache.log and $dir/squid.out say:" >&2
      cat "$dir/run/cache.log" "$dir/squid.out" >&2
      exit 1
    fi
  done
  printf 'http://127.0.0.1:%s' "$open_port" >"$dir/proxy"
  printf 'http://127.0.0.1:%s' "$basic_port" >"$dir/proxy_basic"
  if [ -n "$watch_pid" ]; then
    # In a session of its own, so that the Ctrl-C that ends the owner does not end the watcher.
    setsid sh "$script" watch "$dir" --watch-pid "$watch_pid" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/watcher.pid"
  fi
  echo "squid on http://127.0.0.1:$open_port (open) and http://127.0.0.1:$basic_port (Basic), before port $PARENT_PORT"
}

# The watcher: waits for the owner to end, then stops squid if it still runs.
watch_owner() {
  while kill -0 "$watch_pid" 2>/dev/null && [ -s "$dir/squid.pid" ]; do
    sleep 1
  done
  if [ -s "$dir/squid.pid" ]; then
    stop_server
  fi
}

case "$action" in
start) start_server ;;
stop) stop_server ;;
watch) [ -n "$watch_pid" ] || usage; watch_owner ;;
*) usage ;;
esac
