#!/bin/sh
# The private nginx and the squid in front of it never outlive their run: tools/nginx/nginx.sh and
# tools/squid/squid.sh driven through the ways a run can end (orderly stop, owner gone, interrupted
# without a stop, server killed or hung) in a folder of their own.
#   server_lifecycle_test.sh NGINX_SH SQUID_SH DIR
# Prints one line per check; exits 1 when any failed, with what was found.
# shellcheck disable=SC2317 # the checks are called through check()
set -u
nginx_sh=$1
squid_sh=$2
dir=$3
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

# squid: its process and its Basic helpers, by the configuration and password file they name.
squid_processes() {
  # The helpers name the password file by the folder itself, not by a link to it.
  run=$(readlink -f "$squid_run" 2>/dev/null || echo "$squid_run")
  for proc in /proc/[0-9]*; do
    comm=""
    { read -r comm <"$proc/comm"; } 2>/dev/null || true
    case "$comm" in squid | basic_ncsa_auth) ;; *) continue ;; esac
    command=""
    { command=$(tr '\0' ' ' <"$proc/cmdline"); } 2>/dev/null || true
    case "$command" in *"$dir/squid/squid.conf"* | *"$run/passwd"*) ;; *) continue ;; esac
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "$proc/status" 2>/dev/null)
    [ "$state" = "Z" ] || echo "${proc#/proc/}"
  done
}

no_squid_left() {
  left=$(squid_processes)
  [ -z "$left" ] || { echo "     still running: $left" >&2; return 1; }
}

# The status line squid answers on the port in $1 (proxy or proxy_basic) for a request with the
# optional Proxy-Authorization value $2.
squid_answers() { # squid_answers FILE EXPECTED [AUTHORIZATION]
  address=$(cat "$dir/squid/$1" 2>/dev/null) || return 1
  reply=$(python3 -c '
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1].rsplit(":", 1)[1])), timeout=10)
auth = "Proxy-Authorization: Basic " + sys.argv[2] + "\r\n" if sys.argv[2] else ""
s.sendall(("GET http://download.orvane.com/plinthware/absent.ini HTTP/1.1\r\nHost: download.orvane.com\r\n" + auth +
           "Connection: close\r\n\r\n").encode())
print(s.recv(64).decode("latin-1").splitlines()[0])' "$address" "${3:-}" 2>&1)
  [ "$reply" = "$2" ] || { echo "     answer: $reply" >&2; return 1; }
}

squid_start() { "$squid_sh" start "$dir/squid" --parent-port-file "$dir/server/port" --basic user:secret "$@" >/dev/null; }
squid_run=$dir/squid/run
signed_in=$(printf 'user:secret' | base64)
wrong=$(printf 'user:wrong' | base64)

# 7. squid in front of nginx: what it passes, and an orderly start and stop.
"$nginx_sh" start "$dir/server" >/dev/null
squid_start
check "squid: the open port passes a request to nginx" squid_answers proxy "HTTP/1.1 404 Not Found"
check "squid: the Basic port asks for a sign-in" squid_answers proxy_basic "HTTP/1.1 407 Proxy Authentication Required"
check "squid: the Basic port refuses a wrong password" squid_answers proxy_basic \
  "HTTP/1.1 407 Proxy Authentication Required" "$wrong"
check "squid: the Basic port passes the account" squid_answers proxy_basic "HTTP/1.1 404 Not Found" "$signed_in"
check "squid: its helper runs" test -n "$(squid_processes | sed 1d)"
"$squid_sh" stop "$dir/squid"
check "squid stop: no process left" no_squid_left
check "squid stop: addresses removed" test ! -e "$dir/squid/proxy" -a ! -e "$dir/squid/proxy_basic"

# 8. squid's owner ends without a stop: the watcher stops it.
sleep 60 &
owner=$!
squid_start --watch-pid $owner
check "squid watched: a watcher runs" running "$(cat "$dir/squid/watcher.pid")"
watcher=$(cat "$dir/squid/watcher.pid")
kill $owner
wait $owner 2>/dev/null
check "squid owner gone: the watcher has finished within 5 s" ended_within 5 "$watcher"
check "squid owner gone: no process left" no_squid_left

# 9. An interrupted run, then a new start: the old squid is replaced, not doubled.
squid_start
first=$(cat "$dir/squid/squid.pid")
squid_start
check "squid restart: the old squid is gone" ended_within 0 "$first"
check "squid restart: one squid" test "$(squid_processes | wc -l)" -eq 1
check "squid restart: passes requests" squid_answers proxy "HTTP/1.1 404 Not Found"

# 10. squid hung (stopped) with a Basic helper: stop ends both.
squid_answers proxy_basic "HTTP/1.1 404 Not Found" "$signed_in" 2>/dev/null
kill -STOP "$(cat "$dir/squid/squid.pid")"
"$squid_sh" stop "$dir/squid"
check "squid hung: stop leaves no process" no_squid_left

# 11. A stale pid file naming another process: stop leaves that process alone.
sleep 60 &
bystander=$!
echo $bystander >"$dir/squid/squid.pid"
"$squid_sh" stop "$dir/squid"
check "squid stale pid file: the other process lives" kill -0 $bystander
kill $bystander
wait $bystander 2>/dev/null

# 12. As root, squid works as user proxy: a folder that user cannot reach keeps its run folder
# under /tmp, linked from the folder.
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$dir/private"
  chmod 700 "$dir/private"
  "$squid_sh" start "$dir/private/squid" --parent-port-file "$dir/server/port" --basic user:secret >/dev/null
  check "squid, unreachable folder: the run folder is a link" test -L "$dir/private/squid/run"
  saved_dir=$dir
  dir=$dir/private
  squid_run=$(readlink "$dir/squid/run")
  check "squid, unreachable folder: passes the account" squid_answers proxy_basic "HTTP/1.1 404 Not Found" "$signed_in"
  "$squid_sh" stop "$dir/squid"
  check "squid, unreachable folder: stop leaves no process" no_squid_left
  rm -rf "$squid_run"
  dir=$saved_dir
  squid_run=$dir/squid/run
fi
"$nginx_sh" stop "$dir/server"

"$squid_sh" start "$dir/squid" 2>/dev/null
check "squid, no parent: usage error" test $? -eq 2

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; logs in $dir/server/logs and $dir/squid/run" >&2
  "$squid_sh" stop "$dir/squid" >/dev/null 2>&1
  "$squid_sh" stop "$dir/private/squid" >/dev/null 2>&1
  "$nginx_sh" stop "$dir/server" >/dev/null 2>&1
  exit 1
fi
rm -rf "$dir"
exit 0
