"""What the end-to-end tests start: a private X display, loopback start-page
and report servers, and the shell under a private session bus. Every wait has
a bound; everything started is stopped by its owner's close()."""

import ctypes
import os
import re
import shutil
import signal
import socket
import socketserver
import subprocess
import tempfile
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit


class Failure(Exception):
    pass


def wait_for(condition, timeout, what):
    """Polls condition until it returns a true value; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)


def split_host(host):
    name, _, port = host.partition(":")
    return name, int(port or 80)


# --- display ------------------------------------------------------------------

class Display:
    """Xvfb on a display number it picks itself, with no window manager."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                os.close(read_end)
                self.close()
                raise Failure("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        self.name = ":" + number.decode().strip()

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def run(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env(), capture_output=True, text=True, timeout=30)
        if check and result.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def shell_window(self):
        """The id of the shell's visible toplevel, or None."""
        out = self.run("xdotool", "search", "--onlyvisible", "--classname", "^quorvel$", check=False)
        ids = out.split()
        return ids[0] if ids else None

    def geometry(self, window):
        info = self.run("xwininfo", "-id", window)
        pick = lambda key: int(re.search(key + r":\s+(-?\d+)", info).group(1))
        return pick("Absolute upper-left X"), pick("Absolute upper-left Y"), pick("Width"), pick("Height")

    def prop(self, window, name):
        return self.run("xprop", "-id", window, name).strip()

    def screenshot(self, path):
        self.run("import", "-window", "root", path)

    def pixels(self):
        """The screen as rows of (r, g, b), through a fresh screenshot."""
        raw = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env(),
                             capture_output=True, timeout=30).stdout
        if len(raw) != self.width * self.height * 3:
            return None
        return lambda x, y: tuple(raw[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3])

    def focus_root(self):
        # With the focus on the root, keys go to the window under the pointer,
        # which GTK counts as focus: the pointer leaves first.
        self.run("xdotool", "mousemove", "0", "0")
        root = re.search(r"Window id: (0x[0-9a-f]+)", self.run("xwininfo", "-root")).group(1)
        self.run("xdotool", "windowfocus", root)

    def focus(self, window):
        self.run("xdotool", "windowfocus", window)

    def click(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y), "click", "1")

    def send_delete_window(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        send_wm_delete(self.name, int(window, 0))

    def close(self):
        stop_group(self.process)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_wm_delete(display_name, window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise Failure("cannot open display " + display_name)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


class WindowManager:
    """openbox on a display, with its own configuration and cache folders."""

    def __init__(self, display, workdir):
        env = display.env()
        env.update(XDG_CONFIG_HOME=os.path.join(workdir, "wm-config"), XDG_CACHE_HOME=os.path.join(workdir, "wm-cache"))
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.process = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: "window id" in display.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False),
                 30, "the window manager to start")

    def close(self):
        stop_group(self.process)


class HandlerRecorder:
    """The desktop's default handler for http, https and mailto addresses, as
    GIO finds it: a .desktop entry in $XDG_DATA_HOME/applications named in its
    mimeapps.list, whose program writes each address it is given to a file."""

    SCHEMES = ("http", "https", "mailto")

    def __init__(self, data_home):
        folder = os.path.join(data_home, "applications")
        os.makedirs(folder, exist_ok=True)
        self.record = os.path.join(folder, "handled.txt")
        script = os.path.join(folder, "record-uri")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nprintf \'%%s\\n\' "$1" >> "%s"\n' % self.record)
        os.chmod(script, 0o755)
        with open(os.path.join(folder, "quorvel-e2e-recorder.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%u\nMimeType=%s\n" %
                    (script, "".join("x-scheme-handler/%s;" % scheme for scheme in self.SCHEMES)))
        with open(os.path.join(folder, "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\n" +
                    "".join("x-scheme-handler/%s=quorvel-e2e-recorder.desktop\n" % s for s in self.SCHEMES))

    def uris(self):
        try:
            with open(self.record) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        pass


# --- servers ------------------------------------------------------------------

class StartPageServer:
    """Serves pages by the start page's source value and records every request.
    pages: source -> html of the start page; routes: path -> handler(request)
    returning (status, headers, body)."""

    def __init__(self, host, pages, routes=None):
        self.requests = []  # (time, request line, headers)
        self.beacons = []   # (time, name)
        self.lock = threading.Lock()
        owner = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                now = time.monotonic()
                with owner.lock:
                    owner.requests.append((now, self.requestline, dict(self.headers)))
                url = urlsplit(self.path)
                if url.path == "/beacon":
                    with owner.lock:
                        owner.beacons.append((now, url.query))
                    return self.reply(204, {}, b"")
                if url.path == "/quorvl/index1.html":
                    source = parse_qs(url.query, keep_blank_values=True).get("source", [""])[0]
                    html = pages.get(source, pages.get("*", "<p>no page for %s</p>" % source))
                    return self.reply(200, {"Content-Type": "text/html; charset=utf-8"}, html.encode())
                handler = (routes or {}).get(url.path)
                if handler:
                    # A handler that answers by itself returns None.
                    answer = handler(self)
                    return self.reply(*answer) if answer else None
                return self.reply(404, {"Content-Type": "text/plain"}, b"not here")

            def reply(self, status, headers, body):
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

        self.server = ThreadingHTTPServer(split_host(host), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def lines(self):
        with self.lock:
            return [line for _, line, _ in self.requests]

    def beacon_names(self):
        with self.lock:
            return [name for _, name in self.beacons]

    def reset_beacons(self):
        with self.lock:
            self.beacons.clear()

    def beacon_time(self, name):
        with self.lock:
            for t, n in self.beacons:
                if n == name:
                    return t
        return None

    def wait_beacon(self, name, timeout=60):
        return wait_for(lambda: self.beacon_time(name), timeout, "the page's beacon " + name)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class ReportServer:
    """Records the exact bytes of each request head and answers 200."""

    def __init__(self, host):
        self.heads = []
        self.lock = threading.Lock()
        owner = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                self.request.settimeout(10)
                data = b""
                try:
                    while b"\r\n\r\n" not in data:
                        chunk = self.request.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                    with owner.lock:
                        owner.heads.append(data)
                    self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                         b"Content-Length: 2\r\nConnection: close\r\n\r\n{}")
                except OSError:
                    pass

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server(split_host(host), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def count(self):
        with self.lock:
            return len(self.heads)

    def all(self):
        with self.lock:
            return list(self.heads)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# --- the shell ----------------------------------------------------------------

def stop_group(process, grace=5):
    """Ends a process started in its own session, and all it started."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        pass


def processes_with_token(token):
    """Pids of processes whose environment carries the run's token."""
    found = []
    needle = ("QUORVEL_E2E_RUN=" + token).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if needle in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def describe(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return "%d %s" % (pid, f.read().replace(b"\0", b" ").decode(errors="replace").strip())
    except OSError:
        return str(pid)


def children_of(pid):
    kids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[1]) == pid:
                kids.append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return kids


def exe_name(pid):
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid))
    except OSError:
        return ""


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=%s</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def session_bus_config(workdir):
    """A private session bus without service files: nothing is activated on
    it (no accessibility bus), so whatever runs after the shell ended is the
    shell's own."""
    path = os.path.join(workdir, "session-bus.conf")
    if not os.path.exists(path):
        with open(path, "w") as f:
            f.write(BUS_CONFIG % workdir)
    return path


class Shell:
    """One run of the shell, copied under a tagged file name, under its own
    session bus, with the given data folder."""

    def __init__(self, binary, name, display, data_home, workdir, extra_env=None):
        self.folder = tempfile.mkdtemp(prefix="bin-", dir=workdir)
        self.path = os.path.join(self.folder, name)
        shutil.copy(binary, self.path)
        self.name = name
        self.token = uuid.uuid4().hex
        env = display.env()
        env.update(XDG_DATA_HOME=data_home, XDG_CACHE_HOME=os.path.join(workdir, "cache"),
                   XDG_CONFIG_HOME=os.path.join(workdir, "config"),
                   XDG_RUNTIME_DIR=workdir, NO_AT_BRIDGE="1", GTK_A11Y="none",
                   QUORVEL_E2E_RUN=self.token)
        env.update(extra_env or {})
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.log_path = os.path.join(workdir, name + ".log")
        self.log = open(self.log_path, "ab")
        self.started = time.monotonic()
        self.process = subprocess.Popen(["dbus-run-session", "--config-file", session_bus_config(workdir), "--",
                                         self.path], env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                        start_new_session=True)
        self.ended = None

    def pid(self, timeout=30):
        """The shell's own pid (a child of the bus wrapper)."""
        return wait_for(lambda: next((p for p in children_of(self.process.pid) if exe_name(p) == self.name), None),
                        timeout, "the shell process to start")

    def signal(self, signum):
        os.kill(self.pid(), signum)

    def wait_exit(self, timeout):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end within %.0f s" % (self.name, timeout))
        self.ended = time.monotonic()
        return status

    def running(self):
        return self.process.poll() is None

    def leftovers(self, timeout=30):
        """Waits until nothing started by this run is left; returns what is."""
        try:
            wait_for(lambda: not processes_with_token(self.token), timeout, "the run's processes to end")
        except Failure:
            return [describe(pid) for pid in processes_with_token(self.token)]
        return []

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def close(self):
        stop_group(self.process)
        for pid in processes_with_token(self.token):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        self.log.close()


def port_is_free(host):
    with socket.socket() as s:
        # As the servers bind: a port in TIME_WAIT is free for them.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(split_host(host))
            return True
        except OSError:
            return False
