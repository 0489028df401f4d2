#!/bin/sh
# Starts and stops a private nginx that serves DIR/docroot on a free port of 127.0.0.1: the real
# web server of the end-to-end tests and the demo. It is not the system service: its
# configuration, pid file, logs and temporary folders all live in DIR.
#   nginx.sh start DIR [--proxy-file FILE] [--watch-pid PID | --watch-parent] [--tls NAME=CERT...]
#                      [--port NAME=PORT...]
#   nginx.sh stop  DIR [--proxy-file FILE]
#   nginx.sh watch DIR --watch-pid PID [--proxy-file FILE]   (the watcher itself; start runs it)
# The environment variable PLINTHWARE_NGINX may name the nginx program.
# start stops whatever an earlier, interrupted run left in DIR, writes the address
# (http://127.0.0.1:PORT) to DIR/proxy and to FILE, and prints it. With --watch-pid, a watcher
# stops the server once process PID has ended (--watch-parent: the process that started this
# script, such as CTest), so that an interrupted run leaves nothing behind.
# Each --tls NAME=CERT (repeatable) adds an HTTPS server for the same docroot on a free port of its
# own, with the certificate CERT.crt and its key CERT.key, and writes that port to DIR/port.NAME.
# --port NAME=PORT fixes that port instead (for an address compiled into a test build).
# stop works in any state: no server, a stale pid file, or a server whose owner is gone.
set -eu

usage() {
  echo "usage: nginx.sh start DIR [--proxy-file FILE] [--watch-pid PID | --watch-parent] [--tls NAME=CERT...]" >&2
  echo "                [--port NAME=PORT...]" >&2
  echo "       nginx.sh stop DIR [--proxy-file FILE]" >&2
  exit 2
}

[ $# -ge 2 ] || usage
case "$1" in start | stop | watch) ;; *) usage ;; esac
action=$1
dir=$2
shift 2
proxy_file=""
watch_pid=""
tls=""
ports=""
while [ $# -gt 0 ]; do
  case "$1" in
  --proxy-file) [ $# -ge 2 ] || usage; proxy_file=$2; shift 2 ;;
  --watch-pid) [ $# -ge 2 ] || usage; watch_pid=$2; shift 2 ;;
  --watch-parent) watch_pid=$PPID; shift ;;
  --tls)
    [ $# -ge 2 ] || usage
    case "$2" in [A-Za-z0-9_]*=?*) ;; *) usage ;; esac
    tls="$tls $2"
    shift 2
    ;;
  --port)
    [ $# -ge 2 ] || usage
    case "$2" in [A-Za-z0-9_]*=[0-9]*) ;; *) usage ;; esac
    ports="$ports $2"
    shift 2
    ;;
  *) usage ;;
  esac
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
# The program: $PLINTHWARE_NGINX, else nginx from PATH or /usr/sbin. NGINX is nginx's own
# variable for sockets handed over in a binary upgrade; set, it keeps nginx from daemonizing.
nginx_program=${PLINTHWARE_NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
unset NGINX

# The pid in DIR/nginx.pid if it is still our nginx (a recycled pid must not be signalled).
running_pid() {
  [ -s "$dir/nginx.pid" ] || return 1
  pid=$(tr -dc '0-9' <"$dir/nginx.pid")
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF "$dir/nginx.conf" || return 1
  echo "$pid"
}

# A process that has exited but is not yet reaped (state Z) counts as gone.
alive() {
  kill -0 "$1" 2>/dev/null || return 1
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null || true)
  [ "$state" != "Z" ]
}

# Every nginx process of this DIR, the master and its workers, also workers whose master was
# killed (they would go on serving): they hold DIR/logs/error.log open.
our_processes() {
  for proc in /proc/[0-9]*; do
    # Builtins and one listing per nginx process: a fork per process or per descriptor makes the
    # scan take seconds on a busy machine.
    comm=""
    { read -r comm <"$proc/comm"; } 2>/dev/null || true
    [ "$comm" = "nginx" ] || continue
    ls -l "$proc/fd" 2>/dev/null | awk -v want="$dir/logs/error.log" '
      { i = index($0, " -> "); if (i && substr($0, i + 4) == want) found = 1 } END { exit !found }' || continue
    echo "${proc#/proc/}"
  done
}

stop_server() {
  if master=$(running_pid); then
    # TERM is nginx's fast shutdown: open keep-alive connections are not waited for.
    kill -TERM "$master" 2>/dev/null || true
    tries=0
    while alive "$master" && [ $tries -lt 100 ]; do
      tries=$((tries + 1))
      sleep 0.05
    done
  fi
  left=$(our_processes)
  if [ -n "$left" ]; then
    # shellcheck disable=SC2086 # one word per pid
    kill -KILL $left 2>/dev/null || true
  fi
  if [ -s "$dir/watcher.pid" ]; then
    watcher=$(tr -dc '0-9' <"$dir/watcher.pid")
    # Only our watcher: the pid may be stale and taken by another process by now.
    command=$(tr '\0' '\n' <"/proc/$watcher/cmdline" 2>/dev/null || true)
    if [ -n "$watcher" ] && [ "$watcher" != "$$" ] && [ "$(echo "$command" | sed -n 3p)" = "watch" ] &&
      [ "$(echo "$command" | sed -n 4p)" = "$dir" ]; then
      kill -TERM "$watcher" 2>/dev/null || true
    fi
  fi
  rm -f "$dir/nginx.pid" "$dir/watcher.pid" "$dir/port" "$dir/proxy" "$dir"/port.*
  if [ -n "$proxy_file" ]; then
    rm -f "$proxy_file"
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null ||
    echo $((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
}

write_config() {
  port=$1
  # Workers of a root master would otherwise run as nobody, who may not read the build folder.
  user_line=""
  if [ "$(id -u)" -eq 0 ]; then
    user_line="user $(id -un) $(id -gn);"
  fi
  cat >"$dir/nginx.conf" <<EOF
# Written by tools/nginx/nginx.sh; rewritten at every start.
$user_line
daemon on;
master_process on;
worker_processes 1;
pid $dir/nginx.pid;
lock_file $dir/nginx.lock;
error_log $dir/logs/error.log notice;

events {
  worker_connections 64;
}

http {
  default_type application/octet-stream;
  types {
    text/plain ini txt;
    application/octet-stream exe;
  }
  log_format plinthware '\$remote_addr "\$request" host="\$http_host" status=\$status bytes=\$body_bytes_sent';
  access_log $dir/requests.log plinthware;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;

  # The one server answers whatever the Host: requests through a proxy arrive in absolute form
  # (GET http://download.orvane.com/plinthware/vrel_info.ini), and nginx serves their path.
  server {
    listen 127.0.0.1:$port default_server;
    server_name _;
    root $dir/docroot;
    # Extra settings of the caller's (the demo slows the package down).
    include $dir/server.d/*.conf;
  }
EOF
  # The HTTPS servers: the same files, each under its own certificate.
  for entry in $tls; do
    name=${entry%%=*}
    cert=${entry#*=}
    tls_port=""
    for fixed in $ports; do
      if [ "${fixed%%=*}" = "$name" ]; then tls_port=${fixed#*=}; fi
    done
    if [ -z "$tls_port" ]; then tls_port=$(free_port); fi
    echo "$tls_port" >"$dir/tls.$name"
    cat >>"$dir/nginx.conf" <<EOF

  server {
    listen 127.0.0.1:$tls_port ssl;
    server_name _;
    ssl_certificate $cert.crt;
    ssl_certificate_key $cert.key;
    root $dir/docroot;
  }
EOF
  done
  echo "}" >>"$dir/nginx.conf"
}

start_server() {
  stop_server
  mkdir -p "$dir/docroot/plinthware" "$dir/logs" "$dir/tmp" "$dir/server.d"
  : >"$dir/requests.log"
  attempt=0
  while :; do
    attempt=$((attempt + 1))
    port=$(free_port)
    write_config "$port"
    : >"$dir/logs/error.log"
    if "$nginx_program" -p "$dir/" -c "$dir/nginx.conf" -e "$dir/logs/error.log" </dev/null >/dev/null 2>&1; then
      break
    fi
    # Another program may have taken the port between the probe and nginx's bind.
    if [ $attempt -ge 5 ] || ! grep -q "Address already in use" "$dir/logs/error.log"; then
      echo "nginx did not start; $dir/logs/error.log says:" >&2
      cat "$dir/logs/error.log" >&2
      exit 1
    fi
  done
  # The master has bound its socket before it returns; its pid file follows from the daemon.
  tries=0
  until running_pid >/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "nginx started but wrote no pid file; see $dir/logs/error.log" >&2
      exit 1
    fi
    sleep 0.05
  done
  echo "$port" >"$dir/port"
  for entry in $tls; do
    name=${entry%%=*}
    mv "$dir/tls.$name" "$dir/port.$name"
  done
  printf 'http://127.0.0.1:%s' "$port" >"$dir/proxy"
  if [ -n "$proxy_file" ]; then
    mkdir -p "$(dirname "$proxy_file")"
    cp "$dir/proxy" "$proxy_file"
  fi
  if [ -n "$watch_pid" ]; then
    # In a session of its own, so that the Ctrl-C that ends the owner does not end the watcher.
    setsid sh "$script" watch "$dir" --watch-pid "$watch_pid" ${proxy_file:+--proxy-file "$proxy_file"} \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/watcher.pid"
  fi
  echo "nginx on http://127.0.0.1:$port, docroot $dir/docroot"
}

# The watcher: waits for the owner to end, then stops the server if it still runs.
watch_owner() {
  while kill -0 "$watch_pid" 2>/dev/null && [ -s "$dir/nginx.pid" ]; do
    sleep 1
  done
  if [ -s "$dir/nginx.pid" ]; then
    stop_server
  fi
}

case "$action" in
start) start_server ;;
stop) stop_server ;;
watch) [ -n "$watch_pid" ] || usage; watch_owner ;;
*) usage ;;
esac
