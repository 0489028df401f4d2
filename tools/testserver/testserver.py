#!/usr/bin/env python3
"""Fault-injecting HTTP server for the updater's download tests (Python 3 standard library only).

It is the HTTP proxy of every test program: WinINet sends it absolute-form requests
("GET http://download.orvane.com/plinthware/vrel_info.ini HTTP/1.1"), and it answers each from its
docroot, ignoring the host. A sidecar file "<file>.fault" makes that path misbehave; see README.md.

    testserver.py setup   --dir DIR --proxy-file FILE   start in the background, wait until ready
    testserver.py cleanup --dir DIR --proxy-file FILE   stop it and remove the proxy file
    testserver.py serve   --dir DIR [--watch-pid PID]   run in the foreground
"""
import argparse
import gzip
import http.server
import os
import posixpath
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

# A run never keeps the server longer than this, even when nobody stops it.
MAX_LIFETIME_S = 3600
# Longest time a "stall" response keeps its connection open without sending.
STALL_HOLD_S = 600

stopping = threading.Event()


def read_fault(path):
    """The fault named by "<path>.fault" as a list of words, or None when there is none."""
    try:
        with open(path + ".fault", encoding="utf-8") as f:
            words = f.read().split()
    except OSError:
        return None
    return words or None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "PlinthwareTestServer/1"

    def log_message(self, fmt, *args):  # quiet: the request log below is what tests read
        pass

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)

    # Helpers --------------------------------------------------------------------------------

    def log_request_line(self):
        with self.server.log_lock, open(self.server.request_log, "a", encoding="utf-8") as log:
            log.write(self.requestline + "\n")

    def local_path(self):
        """Maps the URL path (host ignored) to a file under the docroot, or None if it leaves it."""
        path = urllib.parse.urlsplit(self.path).path
        path = posixpath.normpath(urllib.parse.unquote(path))
        parts = [p for p in path.split("/") if p not in ("", ".")]
        if any(p == ".." for p in parts):
            return None
        return os.path.join(self.server.docroot, *parts)

    def send_status_page(self, code, send_body, extra=()):
        body = ("<html><body>%d</body></html>\n" % code).encode()
        self.send_response(code)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def send_head(self, length=None, chunked=False):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.flush()

    def reset_connection(self):
        # SO_LINGER with a zero timeout makes close() send RST instead of FIN.
        self.wfile.flush()
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    # The answer -------------------------------------------------------------------------------

    def answer(self, send_body):
        self.log_request_line()
        path = self.local_path()
        if path is None or not os.path.isfile(path):
            self.send_status_page(404, send_body)
            return
        fault = read_fault(path)
        with open(path, "rb") as f:
            data = f.read()
        if not fault:
            self.send_head(len(data))
            if send_body:
                self.wfile.write(data)
            return
        mode, args = fault[0].lower(), fault[1:]
        if mode.isdigit():
            self.close_connection = True
            self.send_status_page(int(mode), send_body)
        elif mode == "redirect":
            host = self.headers.get("Host", "localhost")
            target = args[0] if args else "/"
            if not target.startswith("http"):
                target = "http://%s/%s" % (host, target.lstrip("/"))
            self.send_status_page(302, send_body, [("Location", target)])
        elif mode == "close":
            # Read the request, then hang up without a word.
            self.close_connection = True
            self.connection.close()
        elif mode == "chunked":
            self.send_chunked(path, data, args, send_body)
        elif mode == "chunkcut":
            # The first N bytes chunked, then a normal close without the last (empty) chunk.
            sent = min(int(args[0]) if args else len(data) // 2, len(data))
            self.send_chunked(path, data[:sent], args[1:], send_body, last_chunk=False)
        elif mode == "closecut":
            # HTTP/1.0 without a length, the body ended by the close: the first N bytes only.
            self.protocol_version = "HTTP/1.0"
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.end_headers()
            if send_body:
                self.wfile.write(data[:min(int(args[0]) if args else len(data) // 2, len(data))])
        elif mode == "drip":
            self.send_drip(data, args, send_body)
        elif mode == "gzip":
            self.send_gzip(path, data, args, send_body)
        elif mode == "encoded":
            self.send_encoded(data, args, send_body)
        elif mode in ("cut", "reset", "stall"):
            self.send_broken(mode, data, args, send_body)
        else:
            self.send_status_page(500, send_body)

    def send_chunked(self, path, data, args, send_body, last_chunk=True):
        size = int(args[0]) if args else 4096
        delay = float(args[1]) if len(args) > 1 else 0.0
        self.close_connection = True
        self.send_head(chunked=True)
        if not send_body:
            self.wfile.write(b"0\r\n\r\n")
            return
        sent = 0
        try:
            for start in range(0, len(data), size):
                piece = data[start:start + size]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.wfile.flush()
                sent += len(piece)
                if delay and stopping.wait(delay):
                    return
            if last_chunk:
                self.wfile.write(b"0\r\n\r\n")
        finally:
            # How much of the body went out before the client left (or all of it), for the tests.
            with open(path + ".sent", "w", encoding="utf-8") as f:
                f.write(str(sent))

    def send_gzip(self, path, data, args, send_body):
        # With SIZE, the compressed body goes out SIZE bytes at a time, S seconds apart, so that a
        # client that stores the body decoded can be watched (and can leave) on the way.
        body = gzip.compress(data)
        size = int(args[0]) if args else len(body)
        delay = float(args[1]) if len(args) > 1 else 0.0
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not send_body:
            return
        sent = 0
        try:
            for start in range(0, len(body), max(1, size)):
                self.wfile.write(body[start:start + size])
                self.wfile.flush()
                sent = min(start + size, len(body))
                if delay and sent < len(body) and stopping.wait(delay):
                    return
        finally:
            # How much of the compressed body went out before the client left, for the tests.
            with open(path + ".sent", "w", encoding="utf-8") as f:
                f.write(str(sent))

    def send_encoded(self, data, args, send_body):
        # The file as it is under a Content-Encoding WinINet does not decode, announced with
        # another length (as a compressed body stored decoded is); closed after the file.
        announced = int(args[0]) if args else 2 * len(data)
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Encoding", "x-plinthware-test")
        self.send_header("Content-Length", str(announced))
        self.end_headers()
        if send_body:
            self.wfile.write(data)
            self.wfile.flush()

    def send_drip(self, data, args, send_body):
        delay = float(args[0]) if args else 1.0
        size = int(args[1]) if len(args) > 1 else max(1, len(data) // 8)
        self.close_connection = True
        self.send_head(len(data))
        if not send_body:
            return
        for start in range(0, len(data), size):
            self.wfile.write(data[start:start + size])
            self.wfile.flush()
            if start + size < len(data) and stopping.wait(delay):
                return

    def send_broken(self, mode, data, args, send_body):
        sent = min(int(args[0]) if args else len(data) // 2, len(data))
        self.close_connection = True
        self.send_head(len(data))
        if not send_body:
            return
        self.wfile.write(data[:sent])
        self.wfile.flush()
        if mode == "reset":
            # A pause first, so that the reset arrives on its own rather than with the data.
            stopping.wait(float(args[1]) if len(args) > 1 else 0.5)
            self.reset_connection()
        elif mode == "stall":
            # Hold the connection until the client gives up or the server stops; with a number
            # of seconds, send the rest after that long.
            hold = float(args[1]) if len(args) > 1 else STALL_HOLD_S
            self.connection.settimeout(0.2)
            deadline = time.monotonic() + hold
            while not stopping.is_set() and time.monotonic() < deadline:
                try:
                    if not self.connection.recv(4096):
                        return
                except socket.timeout:
                    continue
                except OSError:
                    return
            if len(args) > 1 and not stopping.is_set():
                self.connection.settimeout(None)
                self.wfile.write(data[sent:])
                self.wfile.flush()
        # "cut": the handler returns and the connection closes normally, short of its length.


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that gives up mid-body (a cancelled or abandoned download) is part of the game.
        if isinstance(sys.exc_info()[1], ConnectionError):
            return
        super().handle_error(request, client_address)


def serve(args):
    docroot = os.path.join(args.dir, "docroot")
    os.makedirs(docroot, exist_ok=True)
    server = Server(("127.0.0.1", 0), Handler)
    server.docroot = docroot
    server.request_log = os.path.join(args.dir, "requests.log")
    server.log_lock = threading.Lock()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    thread.start()
    port_file = os.path.join(args.dir, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    # Ends on SIGTERM, when the process that started the run is gone, or after MAX_LIFETIME_S.
    started = time.monotonic()
    while not stopping.wait(1.0):
        if args.watch_pid and not pid_alive(args.watch_pid):
            break
        if time.monotonic() - started > MAX_LIFETIME_S:
            break
    stopping.set()
    server.shutdown()
    server.server_close()
    for name in ("port", "server.pid"):
        try:
            os.remove(os.path.join(args.dir, name))
        except OSError:
            pass


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def stop_running(directory):
    pid_file = os.path.join(directory, "server.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    for _ in range(100):
        if not pid_alive(pid):
            break
        time.sleep(0.05)
    else:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    try:
        os.remove(pid_file)
    except OSError:
        pass


def setup(args):
    os.makedirs(args.dir, exist_ok=True)
    stop_running(args.dir)
    for name in ("port", "requests.log"):
        try:
            os.remove(os.path.join(args.dir, name))
        except OSError:
            pass
    # CTest runs the setup as a child: the server watches CTest and ends with it if cleanup never runs.
    log = open(os.path.join(args.dir, "server.log"), "w")
    child = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "serve", "--dir", args.dir, "--watch-pid", str(os.getppid())],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True, close_fds=True)
    with open(os.path.join(args.dir, "server.pid"), "w") as f:
        f.write(str(child.pid))
    port_file = os.path.join(args.dir, "port")
    deadline = time.monotonic() + 20
    while not os.path.exists(port_file):
        if child.poll() is not None or time.monotonic() > deadline:
            print("test server did not start; see %s" % os.path.join(args.dir, "server.log"), file=sys.stderr)
            return 1
        time.sleep(0.05)
    with open(port_file) as f:
        port = f.read().strip()
    os.makedirs(os.path.dirname(os.path.abspath(args.proxy_file)), exist_ok=True)
    with open(args.proxy_file, "w") as f:
        f.write("http://127.0.0.1:%s" % port)
    print("test server on http://127.0.0.1:%s, docroot %s" % (port, os.path.join(args.dir, "docroot")))
    return 0


def cleanup(args):
    stop_running(args.dir)
    try:
        os.remove(args.proxy_file)
    except OSError:
        pass
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("action", choices=["setup", "cleanup", "serve"])
    parser.add_argument("--dir", required=True, help="server folder: docroot/, port, requests.log")
    parser.add_argument("--proxy-file", help="where setup writes the proxy address")
    parser.add_argument("--watch-pid", type=int, default=0, help="serve: end when this process ends")
    args = parser.parse_args()
    args.dir = os.path.abspath(args.dir)
    if args.action == "serve":
        serve(args)
        return 0
    if not args.proxy_file:
        parser.error("--proxy-file is needed for setup and cleanup")
    return setup(args) if args.action == "setup" else cleanup(args)


if __name__ == "__main__":
    sys.exit(main())
