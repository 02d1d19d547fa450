#!/usr/bin/env python3
"""The probe prints its seven lines for a 200, a 404, a refused port and a
connect time-out, and its exit status follows the result.

Usage: quorvel_get_test.py PATH-TO-quorvel-get
"""
import socket
import subprocess
import sys
import threading
import time

PROBE = sys.argv[1]
KEYS = ["result", "code", "error", "message", "last_error", "body", "elapsed_ms"]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what, flush=True)


class OneShotServer:
    """Answers each connection once with fixed bytes; records request heads."""

    def __init__(self, answer):
        self.answer = answer
        self.heads = []
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            with conn:
                conn.settimeout(5)
                data = b""
                while b"\r\n\r\n" not in data:
                    piece = conn.recv(4096)
                    if not piece:
                        break
                    data += piece
                self.heads.append(data)
                conn.sendall(self.answer)

    def close(self):
        self.stop = True
        self.thread.join(5)
        self.sock.close()


def probe(url, timeout=30):
    started = time.monotonic()
    p = subprocess.run([PROBE, url], capture_output=True, timeout=timeout)
    return p.returncode, p.stdout.decode("ascii", "replace"), time.monotonic() - started


def parse(out):
    lines = out.splitlines()
    check([l.split("=", 1)[0] for l in lines] == KEYS, "seven key=value lines in order, got %r" % lines)
    return dict(l.split("=", 1) for l in lines if "=" in l)


def test_ok():
    s = OneShotServer(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello")
    try:
        rc, out, _ = probe("http://127.0.0.1:%d/api/report/install?x=\u00e9" % s.port)
    finally:
        s.close()
    v = parse(out)
    check(rc == 0, "200: exit status 0, got %d" % rc)
    check(v.get("result") == "true" and v.get("code") == "200", "200: result=true code=200: %r" % v)
    check(v.get("error") == "" and v.get("message") == "" and v.get("last_error") == "0", "200: no error: %r" % v)
    check(v.get("body") == "5", "200: body=5: %r" % v)
    check(v.get("elapsed_ms", "").isdigit(), "200: elapsed_ms is a number: %r" % v)
    check(s.heads and s.heads[0].startswith(b"GET /api/report/install?x=? HTTP/1.1\r\n"),
          "200: e-acute goes as one '?': %r" % s.heads)


def test_not_found():
    body = b"no such page"
    s = OneShotServer(b"HTTP/1.1 404 Not Found\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body))
    try:
        rc, out, _ = probe("http://127.0.0.1:%d/missing" % s.port)
    finally:
        s.close()
    v = parse(out)
    check(rc == 1, "404: exit status 1, got %d" % rc)
    check(v.get("result") == "false" and v.get("code") == "404", "404: result=false code=404: %r" % v)
    check(v.get("error") == "EIdHTTPProtocolException", "404: error class: %r" % v)
    check(v.get("message") == "HTTP/1.1 404 Not Found", "404: message is the status line: %r" % v)
    check(v.get("last_error") == "0" and v.get("body") == "0", "404: no socket error, no body kept: %r" % v)


def test_refused():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    rc, out, elapsed = probe("http://127.0.0.1:%d/" % port)
    v = parse(out)
    check(rc == 1, "refused: exit status 1, got %d" % rc)
    check(v.get("code") == "-1" and v.get("error") == "EIdSocketError", "refused: %r" % v)
    check(v.get("message") == "Socket Error # 10061\\r\\nConnection refused.", "refused: message: %r" % v)
    check(v.get("last_error") == "10061", "refused: last_error: %r" % v)
    check(elapsed < 4.0, "refused: well before the connect limit (%.1f s)" % elapsed)


def test_connect_timeout():
    # A listener whose accept queue is full drops further handshakes.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    for _ in range(4):
        f = socket.socket()
        f.setblocking(False)
        f.connect_ex(("127.0.0.1", port))
        fillers.append(f)
    time.sleep(0.2)
    try:
        rc, out, elapsed = probe("http://127.0.0.1:%d/" % port)
    finally:
        for f in fillers:
            f.close()
        listener.close()
    v = parse(out)
    check(rc == 1, "time-out: exit status 1, got %d" % rc)
    check(v.get("error") == "EIdConnectTimeout" and v.get("message") == "Connect timed out.",
          "time-out: %r" % v)
    check(v.get("code") == "-1" and v.get("last_error") == "0", "time-out: no code, no socket error: %r" % v)
    ms = int(v.get("elapsed_ms", "0") or 0)
    check(4800 <= ms <= 6500, "time-out: about 5000 ms, got %d" % ms)


def test_usage():
    p = subprocess.run([PROBE], capture_output=True, timeout=10)
    check(p.returncode == 2, "usage: exit status 2, got %d" % p.returncode)
    text = (p.stdout + p.stderr).decode()
    check(len(text.strip().splitlines()) == 1 and "usage" in text.lower(), "usage: one line: %r" % text)


failed_tests = 0
for t in (test_ok, test_not_found, test_refused, test_connect_timeout, test_usage):
    before = len(failures)
    t()
    failed_tests += len(failures) > before
print("%d passed, %d failed" % (5 - failed_tests, failed_tests))
sys.exit(1 if failures else 0)
