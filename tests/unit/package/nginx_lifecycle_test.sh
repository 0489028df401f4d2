#!/bin/sh
# The private nginx never outlives its run: tools/nginx/nginx.sh driven through the ways a run can
# end (orderly stop, owner gone, interrupted without a stop, master killed) in a folder of its own.
#   nginx_lifecycle_test.sh NGINX_SH DIR
# Prints one line per check; exits 1 when any failed, with what was found.
# shellcheck disable=SC2317 # the checks are called through check()
set -u
nginx_sh=$1
dir=$2
failures=0
rm -rf "$dir"
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
proxy_file=$dir/proxy_copy

check() { # check NAME COMMAND...: passes when COMMAND succeeds
  name=$1
  shift
  if "$@"; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
}

# Processes that hold this folder's error log open: nginx's master and workers.
server_processes() {
  for proc in /proc/[0-9]*; do
    # Builtins and one listing per nginx process: a fork per process or per descriptor makes the
    # scan take seconds on a busy machine.
    comm=""
    { read -r comm <"$proc/comm"; } 2>/dev/null || true
    [ "$comm" = "nginx" ] || continue
    ls -l "$proc/fd" 2>/dev/null | awk -v want="$dir/server/logs/error.log" '
      { i = index($0, " -> "); if (i && substr($0, i + 4) == want) found = 1 } END { exit !found }' || continue
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "$proc/status" 2>/dev/null)
    [ "$state" = "Z" ] || echo "${proc#/proc/}"
  done
}

none_left() {
  left=$(server_processes)
  [ -z "$left" ] || { echo "     still running: $left" >&2; return 1; }
}

# Waits up to $1 seconds (in tenths) for no server process to be left.
gone_within() {
  tries=0
  while [ -n "$(server_processes)" ]; do
    tries=$((tries + 1))
    [ "$tries" -le $(($1 * 10)) ] || { none_left; return 1; }
    sleep 0.1
  done
}

running() { # a process that has not ended (an unreaped one has)
  kill -0 "$1" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null
}

ended_within() { # ended_within SECONDS PID
  tries=0
  while running "$2"; do
    tries=$((tries + 1))
    [ "$tries" -le $(($1 * 10)) ] || return 1
    sleep 0.1
  done
}

serves() { # the server accepts a connection on its port and answers with a status line
  port=$(cat "$dir/server/port" 2>/dev/null) || return 1
  reply=$(python3 -c '
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(b"GET http://download.orvane.com/plinthware/absent.ini HTTP/1.1\r\nHost: download.orvane.com\r\nConnection: close\r\n\r\n")
print(s.recv(64).decode("latin-1").splitlines()[0])' "$port" 2>&1)
  [ "$reply" = "HTTP/1.1 404 Not Found" ] || { echo "     answer: $reply" >&2; return 1; }
}

proxy_written() { [ "$(cat "$proxy_file" 2>/dev/null)" = "http://127.0.0.1:$(cat "$dir/server/port")" ]; }
proxy_removed() { [ ! -e "$proxy_file" ] && [ ! -e "$dir/server/proxy" ]; }

# 1. An orderly start and stop.
"$nginx_sh" start "$dir/server" --proxy-file "$proxy_file" >/dev/null
check "start: serves on 127.0.0.1" serves
check "start: proxy file written" proxy_written
check "start: pid file written" test -s "$dir/server/nginx.pid"
"$nginx_sh" stop "$dir/server" --proxy-file "$proxy_file"
check "stop: no process left" none_left
check "stop: proxy file removed" proxy_removed
"$nginx_sh" stop "$dir/server" --proxy-file "$proxy_file"
check "stop again: nothing to do, succeeds" test $? -eq 0

# 2. The owner ends without a stop (CTest interrupted): the watcher stops the server.
sleep 60 &
owner=$!
"$nginx_sh" start "$dir/server" --proxy-file "$proxy_file" --watch-pid $owner >/dev/null
check "watched: serves" serves
watcher=$(cat "$dir/server/watcher.pid")
check "watched: a watcher runs" running "$watcher"
kill $owner
wait $owner 2>/dev/null
check "owner gone: the watcher has finished within 5 s" ended_within 5 "$watcher"
check "owner gone: no process left" none_left
check "owner gone: proxy file removed" proxy_removed

# 3. A run interrupted before its stop, then a new start: the old server is replaced, not doubled.
"$nginx_sh" start "$dir/server" >/dev/null
first=$(cat "$dir/server/nginx.pid")
"$nginx_sh" start "$dir/server" >/dev/null
second=$(cat "$dir/server/nginx.pid")
check "restart: a new master" test "$first" != "$second"
check "restart: the old master is gone" ended_within 0 "$first"
check "restart: serves" serves
check "restart: one master and one worker" test "$(server_processes | wc -l)" -eq 2

# 4. The master killed from outside: its orphaned worker would go on serving; stop ends it too.
kill -KILL "$second"
check "master killed: the worker still serves" serves
"$nginx_sh" stop "$dir/server"
check "master killed: stop leaves no process" gone_within 2

# 5. A stale pid file naming another process: stop leaves that process alone.
sleep 60 &
bystander=$!
echo $bystander >"$dir/server/nginx.pid"
"$nginx_sh" stop "$dir/server"
check "stale pid file: the other process lives" kill -0 $bystander
check "stale pid file: removed" test ! -e "$dir/server/nginx.pid"
kill $bystander
wait $bystander 2>/dev/null

# 6. Bad use is refused without side effects.
"$nginx_sh" start 2>/dev/null
check "no folder: usage error" test $? -eq 2
"$nginx_sh" restart "$dir/server" 2>/dev/null
check "unknown action: usage error" test $? -eq 2

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; logs in $dir/server/logs" >&2
  "$nginx_sh" stop "$dir/server" >/dev/null 2>&1
  exit 1
fi
rm -rf "$dir"
exit 0
